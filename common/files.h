#pragma once
// Whole-file reads and writes with errors as values. Reads take regular files only (a FIFO or
// a device named like a file must not hang or flood a reader). Writes go through a temporary
// file of a unique name beside the target and a rename, so that a crash leaves either the old
// or the new contents, never half of one, and a link planted beside the target is never
// followed.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/result.h"

namespace kasse {

// Files the register reads whole into memory (settings, languages, product lists) stay below
// this; journals, which grow with every sale, are read without a cap.
inline constexpr std::uintmax_t kMaxSmallFile = 16u << 20;

// No cap: maxBytes 0.
Result<std::string> ReadFile(const std::filesystem::path& path, std::uintmax_t maxBytes = 0);

enum class Durability {
  kRename,         // the rename only: the file may be empty or old after a power cut
  kSyncAndRename,  // the contents and the folder entry are on disk before success
};

// The replaced file keeps its mode; a new one gets 0644.
Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             Durability durability = Durability::kSyncAndRename,
                             FileIo& io = PosixFileIo());

}  // namespace kasse
