#include "register/language.h"

#include "common/ini_file.h"

namespace kasse {

bool Language::ApplyLanguage(std::string_view name) {
  if (!name.empty()) current_ = std::string(name);
  Result<IniFile> file = IniFile::Load(LanguagePath());
  const IniFile empty;
  texts_.Load(file ? *file : empty, current_);
  fileWasUtf8_ = file && file->WasUtf8();
  std::error_code missing;
  const bool there = std::filesystem::symlink_status(LanguagePath(), missing).type() !=
                     std::filesystem::file_type::not_found;
  fileProblem_ = !file && there ? file.error().message : std::string();
  return file && file->HasSection(current_);
}

std::string Language::LanguageOfMenuEntry(std::string_view menuName) {
  if (menuName == "Polnisch") return "Polish";
  return std::string(menuName);
}

}  // namespace kasse
