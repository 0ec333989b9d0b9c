#include "app/batch_line.h"

namespace kasse {

Result<std::optional<BatchLine>> ParseBatchLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
        word.push_back(line[++i]);
      } else if (c == '"') {
        quoted = false;
      } else {
        word.push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      if (!inWord && words.empty() && c == '#') return std::optional<BatchLine>{};
      word.push_back(c);
      inWord = true;
    }
  }
  if (quoted) return MakeError(ErrorKind::kMalformed, "a quote is not closed");
  if (inWord) words.push_back(std::move(word));
  if (words.empty()) return std::optional<BatchLine>{};
  BatchLine parsed{std::move(words.front()), {}};
  parsed.arguments.assign(words.begin() + 1, words.end());
  return std::optional<BatchLine>{std::move(parsed)};
}

BatchFields SplitFields(const std::vector<std::string>& arguments) {
  BatchFields fields;
  for (const std::string& argument : arguments) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos) {
      fields.flags.push_back(argument);
    } else {
      fields.values[argument.substr(0, equals)] = argument.substr(equals + 1);
    }
  }
  return fields;
}

}  // namespace kasse
