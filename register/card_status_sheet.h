#pragma once
// The card status sheet (menu "QOR" > "Status"): the card's status values as receipt lines.

#include <string>
#include <vector>

namespace kasse {

class Language;

// The lines below the receipt header, CR LF between them: an empty line, the title, an empty
// line, nine labelled values, and for a card above version level 1 (eleven values) an empty
// line and two more. Missing values read as empty.
std::string CardStatusSheetText(const Language& language, const std::vector<std::string>& values);

}  // namespace kasse
