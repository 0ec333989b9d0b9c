#include "common/ini_file.h"

#include <algorithm>

#include "common/amount.h"
#include "common/cp1252.h"
#include "common/files.h"

namespace kasse {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  std::string current;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        ini.unreadLines_.push_back(number);
        continue;
      }
      current = std::string(Trim(line.substr(1, close - 1)));
      ini.SectionFor(current);
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string_view key = Trim(line.substr(0, equals));
    if (equals == std::string_view::npos || key.empty()) {
      ini.unreadLines_.push_back(number);
      continue;
    }
    ini.Set(current, key, Trim(line.substr(equals + 1)));
  }
  return ini;
}

Result<IniFile> IniFile::Load(const std::filesystem::path& path) {
  auto text = ReadFile(path);
  if (!text) return text.error();
  const bool wasUtf8 = ConvertUtf8FileText(*text);
  IniFile ini = Parse(*text);
  ini.wasUtf8_ = wasUtf8;
  return ini;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const Section& section : sections_)
    if (SameName(section.name, name)) return &section;
  return nullptr;
}

IniFile::Section& IniFile::SectionFor(std::string_view name) {
  for (Section& section : sections_)
    if (SameName(section.name, name)) return section;
  return sections_.emplace_back(Section{std::string(name), {}});
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return {};
  for (const Entry& entry : found->entries)
    if (SameName(entry.key, key)) return entry.value;
  return {};
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
  auto value = Get(section, key);
  return value ? *value : std::string(fallback);
}

bool IniFile::GetBool(std::string_view section, std::string_view key, bool fallback) const {
  auto value = Get(section, key);
  std::int64_t number = 0;
  if (!value || !ParseInteger(*value, number)) return fallback;
  return number != 0;
}

bool IniFile::HasSection(std::string_view section) const {
  return FindSection(section) != nullptr;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section& target = SectionFor(section);
  for (Entry& entry : target.entries) {
    if (SameName(entry.key, key)) {
      entry.value = std::string(value);
      return;
    }
  }
  target.entries.push_back(Entry{std::string(key), std::string(value)});
}

void IniFile::SetBool(std::string_view section, std::string_view key, bool value) {
  Set(section, key, value ? "1" : "0");
}

std::string IniFile::Serialize() const {
  std::string text;
  for (const Section& section : sections_) {
    if (!text.empty()) text += "\n";
    if (!section.name.empty() || !text.empty()) text += "[" + section.name + "]\n";
    for (const Entry& entry : section.entries)
      text += entry.key + "=" + entry.value + "\n";
  }
  return text;
}

Result<void> IniFile::Save(const std::filesystem::path& path) const {
  return WriteFileAtomic(path, Serialize());
}

}  // namespace kasse
