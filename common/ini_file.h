#pragma once
// INI files as the register keeps them: "[Section]" lines and "key=value" lines, cp1252 bytes,
// section and key names matched without regard to ASCII case. Entries keep their order, so a
// file written back lists its keys in the order they were set.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace kasse {

class IniFile {
 public:
  // Lines that are neither sections, keys nor comments (";" or "#") are skipped; a key before
  // any section belongs to the section "".
  static IniFile Parse(std::string_view text);
  // A file saved in UTF-8 is read as such and converted (see WasUtf8).
  static Result<IniFile> Load(const std::filesystem::path& path);

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view fallback) const;
  // Any non-zero integer is true; a value that is not an integer gives the fallback.
  bool GetBool(std::string_view section, std::string_view key, bool fallback) const;
  bool HasSection(std::string_view section) const;

  void Set(std::string_view section, std::string_view key, std::string_view value);
  void SetBool(std::string_view section, std::string_view key, bool value);

  // Lines of the parsed text (1-based) that were neither sections, keys, comments nor blank,
  // so that a caller can tell the user what of the file was not read.
  const std::vector<std::size_t>& UnreadLines() const { return unreadLines_; }

  // The loaded file was UTF-8, not the register's cp1252; a caller should say so.
  bool WasUtf8() const { return wasUtf8_; }

  std::string Serialize() const;
  Result<void> Save(const std::filesystem::path& path) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* FindSection(std::string_view name) const;
  Section& SectionFor(std::string_view name);

  std::vector<Section> sections_;
  std::vector<std::size_t> unreadLines_;
  bool wasUtf8_ = false;
};

}  // namespace kasse
