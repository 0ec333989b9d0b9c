#pragma once
// The texts of one language from cfg/lang.ini: numbered texts ("12txt") for the code (1 to 90
// for receipts, monitors and reports, 91 and up for the operator's messages), and captions
// ("113cap") and hints ("150hint") of window controls by their tag. A key the file lacks is
// taken from the file beneath it (the shipped one, so that a home's older copy still gets the
// texts a newer version added); a key neither has reads as the empty text.

#include <array>
#include <string>

#include "common/ini_file.h"

namespace kasse {

class LanguageTexts {
 public:
  static constexpr int kTextCount = 299;

  // Takes the section `language` of the language file; a missing section leaves every text
  // empty. Captions and hints are looked up in the same section.
  void Load(const IniFile& languageFile, const std::string& language);
  // The same, with `beneath` answering every key that `languageFile` lacks (a key present with
  // an empty value stays empty: that is the file's own word).
  void Load(const IniFile& languageFile, const IniFile& beneath, const std::string& language);

  // Numbered text 1..kTextCount; any other number gives the empty text.
  const std::string& LangText(int number) const;
  std::string Caption(int tag) const;
  std::string Hint(int tag) const;
  const std::string& Language() const { return language_; }

 private:
  std::string Lookup(const std::string& key) const;

  std::array<std::string, kTextCount + 1> texts_{};
  IniFile file_;
  IniFile beneath_;
  std::string language_ = "Deutsch";
};

}  // namespace kasse
