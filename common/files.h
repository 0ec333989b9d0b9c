#pragma once
// Whole-file reads and writes with errors as values; writes go through a temporary file and a
// rename so that a crash leaves either the old or the new contents, never half of one.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

Result<std::string> ReadFile(const std::filesystem::path& path);

enum class Durability { kRename, kSyncAndRename };

Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             Durability durability = Durability::kRename);

}  // namespace kasse
