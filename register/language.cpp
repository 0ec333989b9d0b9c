#include "register/language.h"

#include "common/ini_file.h"
#include "register/register_home.h"

namespace kasse {

std::filesystem::path Language::ShippedFile() {
  return ShippedDefaultsFolder() / "cfg" / "lang.ini";
}

bool Language::ApplyLanguage(std::string_view name) {
  if (!name.empty()) current_ = std::string(name);
  Result<IniFile> file = IniFile::Load(LanguagePath());
  // The shipped file only fills in; when it cannot be read the home's file stands alone.
  Result<IniFile> shipped = shipped_.empty() ? Result<IniFile>(IniFile()) : IniFile::Load(shipped_);
  const IniFile empty;
  texts_.Load(file ? *file : empty, shipped ? *shipped : empty, current_);
  fileWasUtf8_ = file && file->WasUtf8();
  std::error_code missing;
  const bool there = std::filesystem::symlink_status(LanguagePath(), missing).type() !=
                     std::filesystem::file_type::not_found;
  fileProblem_.reset();
  if (!file && there) fileProblem_ = file.error();
  if (fileProblem_) return false;
  return (file && file->HasSection(current_)) || (shipped && shipped->HasSection(current_));
}

std::string Language::LanguageOfMenuEntry(std::string_view menuName) {
  if (menuName == "Polnisch") return "Polish";
  return std::string(menuName);
}

}  // namespace kasse
