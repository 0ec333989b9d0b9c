#pragma once
// The journal's one in-place write: an export file's tail replaced (the pending records and a new
// closing tag over the old one), through the file-I/O seam like every other write.

#include <filesystem>
#include <string_view>

#include "common/file_io.h"
#include "common/result.h"

namespace kasse::journal_io {

// Writes text at offset and cuts the file right after it.
Result<void> WriteAtAndTruncate(FileIo& io, const std::filesystem::path& path, std::size_t offset,
                                std::string_view text);

}  // namespace kasse::journal_io
