#pragma once
// The files of a simulated card: FILE (the books' snapshot) and, beside it, FILE.key (the
// private key), FILE.cert (the card certificate), FILE.log (the books' changes since the
// snapshot) and FILE.lock (held while a process holds the card). Every error names the path
// and the system's reason.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse::sim {

struct CardPaths {
  explicit CardPaths(std::filesystem::path stateFile);
  std::filesystem::path state;
  std::filesystem::path key;
  std::filesystem::path cert;
  std::filesystem::path log;
  std::filesystem::path lock;
};

// An exclusive flock on FILE.lock with this process's id written into it; released when the
// object goes (or the process ends, however it ends).
class CardLock {
 public:
  // Creates the card's folder as needed. A card held elsewhere gives "the card is in use by
  // process N".
  static Result<CardLock> Acquire(const CardPaths& paths);
  CardLock(CardLock&& other) noexcept;
  CardLock& operator=(CardLock&& other) noexcept;
  CardLock(const CardLock&) = delete;
  CardLock& operator=(const CardLock&) = delete;
  ~CardLock();

 private:
  explicit CardLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// "what PATH: reason" for the errno of a failed call.
Error CardFileError(const std::string& what, const std::filesystem::path& path, int error);

// The whole of a regular file of at most `limit` bytes.
Result<std::string> ReadCardFile(const std::filesystem::path& path, std::size_t limit);

// Replaces `path` atomically and durably: a unique temporary name in the same folder opened
// O_EXCL|O_NOFOLLOW with mode 0600, fsync, rename, folder fsync. On failure `path` is as before.
Result<void> ReplaceCardFile(const std::filesystem::path& path, std::string_view contents);

// fsync of a folder, so that a rename or a new file in it survives a power cut.
Result<void> SyncFolder(const std::filesystem::path& folder);

}  // namespace kasse::sim
