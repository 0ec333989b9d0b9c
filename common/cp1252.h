#pragma once
// cp1252 <-> UTF-8 at the edges: files and the core hold cp1252, windows and terminals UTF-8.

#include <string>
#include <string_view>

namespace kasse {

std::string Cp1252ToUtf8(std::string_view text);

// Characters without a cp1252 form become "?". Invalid UTF-8 bytes are taken as cp1252
// already, so a script saved in the old encoding still reads sensibly.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace kasse
