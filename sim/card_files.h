#pragma once
// The files of a simulated card: FILE (the books' snapshot) and, beside it, FILE.key (the
// private key), FILE.cert (the card certificate), FILE.log (the books' changes since the
// snapshot) and FILE.lock (held while a process holds the card). Every error names the path
// and the system's reason; every write goes through the file-I/O seam (common/file_io.h).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/result.h"
#include "sim/notice.h"

namespace kasse::sim {

struct CardPaths {
  explicit CardPaths(std::filesystem::path stateFile);
  std::filesystem::path Folder() const;
  std::filesystem::path state;
  std::filesystem::path key;
  std::filesystem::path cert;
  std::filesystem::path log;
  std::filesystem::path lock;
};

// An exclusive flock on FILE.lock with this process's id written into it; released when the
// object goes (or the process ends, however it ends). The lock file is no part of the card's
// books, so it is written outside the seam.
class CardLock {
 public:
  // Creates the card's folder as needed (0700, through `io`). A card held elsewhere gives
  // "the card is in use by process N".
  static Result<CardLock> Acquire(const CardPaths& paths, FileIo& io);
  CardLock(CardLock&& other) noexcept;
  CardLock& operator=(CardLock&& other) noexcept;
  CardLock(const CardLock&) = delete;
  CardLock& operator=(const CardLock&) = delete;
  ~CardLock();

 private:
  explicit CardLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The whole of a regular file of at most `limit` bytes, never through a link.
Result<std::string> ReadCardFile(const std::filesystem::path& path, std::size_t limit);

// Replaces `path` atomically and durably with mode 0600 (common/files.h); on failure `path` is
// as before.
Result<void> ReplaceCardFile(FileIo& io, const std::filesystem::path& path,
                             std::string_view contents);

// Removes what a write killed before its rename left of the card's snapshot, key and
// certificate (the card holds its lock), and says so.
void RemoveCardLeftovers(const CardPaths& paths, FileIo& io, const NoticeSink& notice);

// Why the card refuses to start: what is wrong in `file` (at `offset`, when known).
// The message names the file and says what the user can do; the card's files stay as they are.
Error CardRefusal(const CardPaths& paths, const std::filesystem::path& file,
                  std::optional<std::uint64_t> offset, const std::string& what);

}  // namespace kasse::sim
