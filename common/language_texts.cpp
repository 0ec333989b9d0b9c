#include "common/language_texts.h"

namespace kasse {

void LanguageTexts::Load(const IniFile& languageFile, const std::string& language) {
  file_ = languageFile;
  language_ = language;
  for (int n = 1; n <= kTextCount; ++n)
    texts_[static_cast<std::size_t>(n)] = file_.GetString(language_, std::to_string(n) + "txt", "");
}

const std::string& LanguageTexts::LangText(int number) const {
  if (number < 1 || number > kTextCount) return texts_[0];
  return texts_[static_cast<std::size_t>(number)];
}

std::string LanguageTexts::Caption(int tag) const {
  return file_.GetString(language_, std::to_string(tag) + "cap", "");
}

std::string LanguageTexts::Hint(int tag) const {
  return file_.GetString(language_, std::to_string(tag) + "hint", "");
}

}  // namespace kasse
