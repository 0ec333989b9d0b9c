#pragma once
// Unbuffered file writes for the journal: each call hands every byte to the OS before it
// returns, so nothing journalled sits in a process buffer when the register dies.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse::journal_io {

Error IoError(const std::string& what, const std::filesystem::path& path);

// Appends at the descriptor's position; retries short writes and EINTR.
Result<void> WriteAll(int fd, std::string_view text, const std::filesystem::path& path);

// Writes text at offset and cuts the file right after it.
Result<void> WriteAtAndTruncate(const std::filesystem::path& path, std::size_t offset,
                                std::string_view text);

}  // namespace kasse::journal_io
