#pragma once
// One line of a batch script: words separated by blanks, a value with blanks in double quotes
// ("Max Mustermann"), "\"" and "\\" inside quotes for a quote and a backslash. Blank lines and
// lines starting with "#" hold no command.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace kasse {

struct BatchLine {
  std::string command;
  std::vector<std::string> arguments;
};

// Nothing for a blank or comment line; an error for an unclosed quote.
Result<std::optional<BatchLine>> ParseBatchLine(std::string_view line);

// "name=Brot p1=250 discount": key=value pairs and bare flags.
struct BatchFields {
  std::map<std::string, std::string> values;
  std::vector<std::string> flags;
};
BatchFields SplitFields(const std::vector<std::string>& arguments);

}  // namespace kasse
