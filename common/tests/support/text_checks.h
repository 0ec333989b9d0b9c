#pragma once
// Checks on what the register writes, shared by the tests of several folders.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace kasse::testing {

// True when xmllint finds the file well-formed XML.
bool WellFormedXml(const std::filesystem::path& file);
// The same for a text, written to `scratch` first.
bool WellFormedXml(std::string_view text, const std::filesystem::path& scratch);

// How often `what` occurs in `text`, overlapping occurrences included.
std::size_t Occurrences(std::string_view text, std::string_view what);

}  // namespace kasse::testing
