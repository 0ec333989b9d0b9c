#pragma once
// The current language of the register and its texts from cfg/lang.ini below the register
// home, read over the shipped language file: a text the home's copy lacks (one a newer version
// added) comes from the shipped file. The texts object keeps its address for the whole run, so
// encoders may hold it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/language_texts.h"
#include "common/result.h"

namespace kasse {

class Language {
 public:
  // `shipped`: the language file beneath the home's; empty: the home's file alone.
  explicit Language(std::filesystem::path home, std::filesystem::path shipped = ShippedFile())
      : home_(std::move(home)), shipped_(std::move(shipped)) {}

  // cfg/lang.ini of the shipped defaults (ShippedDefaultsFolder()).
  static std::filesystem::path ShippedFile();

  // Makes `name` the current language (empty keeps it) and reloads every text. When neither
  // file has the language the texts are empty; the register goes on with them. Returns false
  // then, and when the home's file is there but cannot be read (FileProblem()).
  bool ApplyLanguage(std::string_view name);

  // The section a menu entry of "Optionen" > "Sprache" selects: "Polnisch" is "Polish".
  static std::string LanguageOfMenuEntry(std::string_view menuName);

  // cfg/lang.ini was saved as UTF-8 (read with conversion) at the last ApplyLanguage.
  bool FileWasUtf8() const { return fileWasUtf8_; }
  // Why cfg/lang.ini could not be read at the last ApplyLanguage (not a regular file, too
  // large, unreadable), naming it; empty when it was read or is not there at all.
  const std::optional<Error>& FileProblem() const { return fileProblem_; }

  const std::string& Current() const { return current_; }
  const std::string& LangText(int number) const { return texts_.LangText(number); }
  std::string Caption(int tag) const { return texts_.Caption(tag); }
  std::string Hint(int tag) const { return texts_.Hint(tag); }
  const LanguageTexts& Texts() const { return texts_; }
  std::filesystem::path LanguagePath() const { return home_ / "cfg" / "lang.ini"; }

 private:
  std::filesystem::path home_;
  std::filesystem::path shipped_;
  std::string current_ = "Deutsch";
  LanguageTexts texts_;
  bool fileWasUtf8_ = false;
  std::optional<Error> fileProblem_;
};

}  // namespace kasse
