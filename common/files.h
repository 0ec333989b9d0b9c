#pragma once
// Whole-file reads and durable writes with errors as values: the one write loop, the one atomic
// replace and the one way to make private folders, for the register, the card and its issuer
// alike, all through the file-I/O seam (common/file_io.h).
//
// Reads take regular files only (a FIFO or a device named like a file must not hang or flood a
// reader). Writes go through a temporary file of a unique name beside the target and a rename,
// so that a crash leaves either the old or the new contents, never half of one, and a link
// planted beside the target is never followed.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_io.h"
#include "common/file_messages.h"
#include "common/result.h"

namespace kasse {

// Files the register reads whole into memory (settings, languages, product lists) stay below
// this; journals, which grow with every sale, are read without a cap.
inline constexpr std::uintmax_t kMaxSmallFile = 16u << 20;

// No cap: maxBytes 0.
Result<std::string> ReadFile(const std::filesystem::path& path, std::uintmax_t maxBytes = 0);

// `what` (one of file_msg's "... %1: %2") with the path and the system's reason, as a kIo error
// that keeps the errno for the advice the user gets.
Error FileError(const MessageId& what, const std::filesystem::path& path, int error);
// "WHAT PATH: reason", where no message of its own names what failed (English only).
Error FileError(const std::string& what, const std::filesystem::path& path, int error);

// What to do about a file that could not be written, by the errno of the failed call.
const MessageId& AdviceFor(int systemError);

// Hands every byte to the file at the descriptor's position, retrying short writes and EINTR.
// `written` counts the bytes that reached the file, also when the write fails part way.
Result<void> WriteAll(FileIo& io, int fd, std::string_view bytes, const std::filesystem::path& path,
                      std::size_t* written = nullptr);

enum class Durability {
  kRename,         // the rename only: the file may be empty or old after a power cut
  kSyncAndRename,  // the contents and the folder entry are on disk before success
};

// kKeep: the name is taken only when free (EEXIST otherwise); two first starts at once never
// replace each other's file.
enum class Existing { kReplace, kKeep };

struct FileWrite {
  Durability durability = Durability::kSyncAndRename;
  Existing existing = Existing::kReplace;
  // The file's mode whatever the umask; without one a replaced file keeps its mode and a new
  // one gets 0644.
  std::optional<mode_t> mode;
};

Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             Durability durability = Durability::kSyncAndRename,
                             FileIo& io = PosixFileIo());
Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             const FileWrite& how, FileIo& io = PosixFileIo());

// Whether `fileName` is one of the temporary names WriteFileAtomic gives `target` in its folder
// (".TARGET.XXXXXX.tmp"): what a writer killed before its rename leaves behind.
bool IsTemporaryOf(std::string_view fileName, std::string_view target);
// Removes such leftovers of the named targets from `folder`; returns the files removed.
std::vector<std::filesystem::path> RemoveLeftoverTemporaries(
    const std::filesystem::path& folder, const std::vector<std::string>& targets,
    FileIo& io = PosixFileIo());

// Makes `folder` and every parent it lacks, each new one 0700 whatever the umask, and makes the
// new entries durable: at once, or, given `unsynced`, by the caller, who gets the folders to
// sync there (a writer that syncs its files anyway folds them into its next sync). An existing
// folder is left as it is.
Result<void> MakePrivateFolders(const std::filesystem::path& folder, FileIo& io = PosixFileIo(),
                                std::vector<std::filesystem::path>* unsynced = nullptr);

// A warning naming `folder` when other users may change what is in it (group or others may
// write), or, for a folder of secrets, may see it at all; nothing when it is private enough.
enum class FolderUse { kData, kSecrets };
std::optional<std::string> LooseFolderWarning(const std::filesystem::path& folder, FolderUse use);

}  // namespace kasse
