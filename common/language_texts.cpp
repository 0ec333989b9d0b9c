#include "common/language_texts.h"

namespace kasse {

void LanguageTexts::Load(const IniFile& languageFile, const std::string& language) {
  Load(languageFile, IniFile(), language);
}

void LanguageTexts::Load(const IniFile& languageFile, const IniFile& beneath,
                         const std::string& language) {
  file_ = languageFile;
  beneath_ = beneath;
  language_ = language;
  for (int n = 1; n <= kTextCount; ++n)
    texts_[static_cast<std::size_t>(n)] = Lookup(std::to_string(n) + "txt");
}

std::string LanguageTexts::Lookup(const std::string& key) const {
  if (std::optional<std::string> own = file_.Get(language_, key)) return std::move(*own);
  return beneath_.GetString(language_, key, "");
}

const std::string& LanguageTexts::LangText(int number) const {
  if (number < 1 || number > kTextCount) return texts_[0];
  return texts_[static_cast<std::size_t>(number)];
}

std::string LanguageTexts::Caption(int tag) const {
  return Lookup(std::to_string(tag) + "cap");
}

std::string LanguageTexts::Hint(int tag) const {
  return Lookup(std::to_string(tag) + "hint");
}

}  // namespace kasse
