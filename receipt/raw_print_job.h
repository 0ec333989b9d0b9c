#pragma once
// The job a receipt printer gets on a raw queue: its own command bytes around the receipt text,
// and the QR code drawn by the printer itself from the verification URL. Texts are cp1252.

#include <string>
#include <string_view>
#include <vector>

namespace kasse {

// GS ( k store: two length bytes count the data plus these three function bytes.
inline constexpr std::size_t kQrStoreOverhead = 3;

// Centre, error-correction level L, store the URL, print the stored symbol, left again. An
// empty URL stores nothing (length bytes 03 00).
std::string BuildQrPrintCommands(std::string_view url);

// Drops empty last lines while at least three lines are left: removes the room the screen kept
// below the receipt for its QR picture, but never cuts a receipt below two lines.
void TrimEmptyLastLines(std::vector<std::string>& lines);

// Job prefix, the lines joined by CR LF, CR LF, the QR commands, job end. The lines are taken
// as they are (trim them first).
std::string BuildRawPrintJob(const std::vector<std::string>& lines, std::string_view url);

}  // namespace kasse
