#pragma once
// Unbuffered file writes for the journal: each call hands every byte to the OS before it
// returns, so nothing journalled sits in a process buffer when the register dies.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/result.h"

namespace kasse::journal_io {

// "WHAT PATH: reason" from errno (or from `error` when given).
Error IoError(const std::string& what, const std::filesystem::path& path, int error = 0);

// Appends at the descriptor's position; retries short writes and EINTR. `written` counts the
// bytes that reached the file, also when the write fails part way.
Result<void> WriteAll(FileIo& io, int fd, std::string_view text, const std::filesystem::path& path,
                      std::size_t* written = nullptr);
inline Result<void> WriteAll(int fd, std::string_view text, const std::filesystem::path& path) {
  return WriteAll(PosixFileIo(), fd, text, path);
}

// Writes text at offset and cuts the file right after it.
Result<void> WriteAtAndTruncate(const std::filesystem::path& path, std::size_t offset,
                                std::string_view text);

}  // namespace kasse::journal_io
