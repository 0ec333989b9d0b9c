#pragma once
// The card status sheet (menu "QOR" > "Status"): the card's status values as receipt lines.

#include <string>
#include <vector>

#include "common/result.h"

namespace kasse {

class Language;
struct CardState;
class Register;

// The lines below the receipt header, CR LF between them: an empty line, the title, an empty
// line, nine labelled values, and for a card above version level 1 (eleven values) an empty
// line and two more. Missing values read as empty.
std::string CardStatusSheetText(const Language& language, const std::vector<std::string>& values);

// The status values the card session knows without asking the card, in the sheet's order.
std::vector<std::string> KnownStatusValues(const CardState& state);

// Reads the status (the open sale is dropped) and writes the sheet into the receipt. When the
// card gave no status the sheet shows the values last known, and the error says why.
Result<void> ShowCardStatusSheet(Register& reg);

}  // namespace kasse
