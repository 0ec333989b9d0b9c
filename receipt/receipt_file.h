#pragma once
// Saving a receipt as a text file: the receipt's bytes as they are (cp1252, CR LF between
// lines), no terminator added. The QR code is not part of it.

#include <filesystem>
#include <string_view>

#include "common/result.h"

namespace kasse {

// An existing file is replaced. kIo naming `file` when it cannot be written.
Result<void> SaveReceiptText(const std::filesystem::path& file, std::string_view text);

}  // namespace kasse
