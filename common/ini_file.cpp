#include "common/ini_file.h"

#include "common/amount.h"
#include "common/cp1252.h"
#include "common/files.h"

namespace kasse {
namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return lower;
}

}  // namespace

std::string IniFile::Folded(std::string_view section, std::string_view key) {
  // No name holds a line end, so the pair folds into one unambiguous key.
  return Lower(section) + '\n' + Lower(key);
}

void IniFile::AddLine(std::string text) {
  if (lineEnd_ == "\r\n") text += '\r';
  lines_.push_back(Line{std::move(text), {}});
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  std::string current;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (number == 1 && raw.ends_with('\r')) ini.lineEnd_ = "\r\n";
    const std::size_t index = ini.lines_.size();
    ini.lines_.push_back(Line{std::string(raw), {}});
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        ini.unreadLines_.push_back(number);
        continue;
      }
      current = std::string(Trim(line.substr(1, close - 1)));
      ini.sectionEnd_[Lower(current)] = index;
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string_view key = Trim(line.substr(0, equals));
    if (equals == std::string_view::npos || key.empty()) {
      ini.unreadLines_.push_back(number);
      continue;
    }
    ini.sectionEnd_[Lower(current)] = index;
    // A key given twice counts with its last value, and is changed there.
    ini.keys_[Folded(current, key)] =
        Place{index, kInLine, std::string(Trim(line.substr(equals + 1)))};
  }
  return ini;
}

Result<IniFile> IniFile::Load(const std::filesystem::path& path) {
  auto text = ReadFile(path, kMaxSmallFile);
  if (!text) return text.error();
  const bool wasUtf8 = ConvertUtf8FileText(*text);
  IniFile ini = Parse(*text);
  ini.wasUtf8_ = wasUtf8;
  return ini;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const auto found = keys_.find(Folded(section, key));
  if (found == keys_.end()) return {};
  return found->second.value;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
  auto value = Get(section, key);
  return value ? *value : std::string(fallback);
}

bool IniFile::GetBool(std::string_view section, std::string_view key, bool fallback) const {
  auto value = Get(section, key);
  if (!value) return fallback;
  const Result<std::int64_t> number = ParseInteger(*value);
  if (!number) return fallback;
  return *number != 0;
}

bool IniFile::HasSection(std::string_view section) const {
  return sectionEnd_.contains(Lower(section));
}

std::string& IniFile::TextAt(const Place& place) {
  Line& line = lines_[place.line];
  return place.added == kInLine ? line.text : line.added[place.added];
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string folded = Folded(section, key);
  if (auto found = keys_.find(folded); found != keys_.end()) {
    Place& place = found->second;
    place.value = std::string(value);
    std::string& text = TextAt(place);
    // The key keeps its spelling and its line its end; only the value changes.
    const bool carriageReturn = text.ends_with('\r');
    text.erase(text.find('=') + 1);
    text += value;
    if (carriageReturn) text += '\r';
    return;
  }
  const std::string sectionName = Lower(section);
  auto end = sectionEnd_.find(sectionName);
  if (end == sectionEnd_.end()) {
    if (!lines_.empty()) AddLine("");
    AddLine("[" + std::string(section) + "]");
    end = sectionEnd_.emplace(sectionName, lines_.size() - 1).first;
  }
  std::vector<std::string>& added = lines_[end->second].added;
  added.push_back(std::string(key) + "=" + std::string(value));
  keys_.emplace(folded, Place{end->second, added.size() - 1, std::string(value)});
}

void IniFile::SetBool(std::string_view section, std::string_view key, bool value) {
  Set(section, key, value ? "1" : "0");
}

std::string IniFile::Serialize() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.text;
    text += '\n';
    for (const std::string& added : line.added)
      text += added + lineEnd_;
  }
  return text;
}

Result<void> IniFile::Save(const std::filesystem::path& path, FileIo& io) const {
  return WriteFileAtomic(path, Serialize(), Durability::kSyncAndRename, io);
}

}  // namespace kasse
