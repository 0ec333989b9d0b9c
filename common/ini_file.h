#pragma once
// INI files as the register keeps them: "[Section]" lines and "key=value" lines, cp1252 bytes,
// section and key names matched without regard to ASCII case. The file is kept line by line:
// Set changes a known key in its own line and adds a new one at the end of its section, so a
// file written back keeps every comment, unknown section and key as it was. Reading and every
// lookup take time linear in the file (one hash lookup per key).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/file_io.h"
#include "common/result.h"

namespace kasse {

class IniFile {
 public:
  // Lines that are neither sections, keys nor comments (";" or "#") are skipped; a key before
  // any section belongs to the section "".
  static IniFile Parse(std::string_view text);
  // A file saved in UTF-8 is read as such and converted (see WasUtf8). Only regular files up to
  // kMaxSmallFile are read.
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
  Result<void> Save(const std::filesystem::path& path, FileIo& io = PosixFileIo()) const;

 private:
  // Where a key's value stands: a line of the file, or one added after a line.
  struct Place {
    std::size_t line;
    std::size_t added;  // kInLine, or the index in lines_[line].added
    std::string value;
  };
  struct Line {
    std::string text;                // as read, without its line end
    std::vector<std::string> added;  // keys set later, written right after this line
  };
  static constexpr std::size_t kInLine = static_cast<std::size_t>(-1);
  static std::string Folded(std::string_view section, std::string_view key);
  std::string& TextAt(const Place& place);
  void AddLine(std::string text);

  std::vector<Line> lines_;
  std::unordered_map<std::string, Place> keys_;              // Folded(section, key)
  std::unordered_map<std::string, std::size_t> sectionEnd_;  // folded section: its last line
  std::vector<std::size_t> unreadLines_;
  std::string lineEnd_ = "\n";
  bool wasUtf8_ = false;
};

}  // namespace kasse
