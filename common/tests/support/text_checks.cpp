#include "common/tests/support/text_checks.h"

#include <cstdlib>
#include <fstream>

namespace kasse::testing {

bool WellFormedXml(const std::filesystem::path& file) {
  const std::string command = "xmllint --noout '" + file.string() + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

bool WellFormedXml(std::string_view text, const std::filesystem::path& scratch) {
  {
    std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) return false;
  }
  return WellFormedXml(scratch);
}

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

}  // namespace kasse::testing
