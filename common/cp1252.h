#pragma once
// cp1252 <-> UTF-8 at the edges: files and the core hold cp1252, windows and terminals UTF-8.

#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

std::string Cp1252ToUtf8(std::string_view text);

// Characters without a cp1252 form become "?". Invalid UTF-8 bytes are taken as cp1252
// already, so a script saved in the old encoding still reads sensibly.
std::string Utf8ToCp1252(std::string_view text);

// A file saved in UTF-8 where cp1252 belongs: it starts with the byte order mark, or it holds
// at least one multi-byte sequence and no high byte outside one (cp1252 text almost never
// does). Such text is converted in place, the mark dropped; returns whether it was.
bool ConvertUtf8FileText(std::string& text);
// What the user is told about such a file.
Error Utf8FileNotice(std::string_view fileName);

}  // namespace kasse
