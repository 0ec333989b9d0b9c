#pragma once
// Text content of the register's XML files (journal and product lists). Names typed by the
// operator may hold "<" or "&"; written raw they would make the files malformed.

#include <string>
#include <string_view>

namespace kasse {

// "&", "<" and ">" as entities; every other byte (cp1252) unchanged.
std::string XmlEscape(std::string_view text);

// The five standard entities back to their characters; any other "&" stays as it stands.
std::string XmlUnescape(std::string_view text);

}  // namespace kasse
