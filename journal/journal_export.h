#pragma once
// The text that waits for an export pair (PendingS, PendingL): every record journalled since the
// card started, until an export pair takes it. Up to a threshold it is held in memory; beyond
// it, it waits in a private file of the state folder, so that a long run without an export pair
// keeps its memory flat.
//
// The file is made exclusively (0600) through the journal's FileIo and its name removed at
// once: only this object's descriptor holds it, so it is gone when the text is taken or the
// register ends, and even a killed register leaves nothing behind. A file that cannot be made
// or written keeps the text in memory (nothing is lost) and is tried again a threshold later.
// Single-threaded, like the journal.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/result.h"

namespace kasse {

class PendingText {
 public:
  // Bytes held in memory before the text moves to the spill file.
  static constexpr std::size_t kInMemory = std::size_t{1} << 20;

  explicit PendingText(FileIo& io) : io_(io) {}
  ~PendingText() { Clear(); }
  PendingText(const PendingText&) = delete;
  PendingText& operator=(const PendingText&) = delete;

  // Where text beyond `inMemory` bytes waits; without a folder it all stays in memory.
  void SpillInto(std::filesystem::path folder, std::size_t inMemory = kInMemory);
  void Append(std::string_view text);
  // Empties it; the spill file goes with its descriptor.
  void Clear();

  std::size_t Size() const { return spilled_ + memory_.size(); }
  bool Empty() const { return Size() == 0; }
  // Some of the text is in the spill file.
  bool Spilled() const { return spilled_ > 0; }
  // The text in order, in pieces of at most 64 KiB from the file, then what is in memory.
  Result<void> ForEachPiece(const std::function<Result<void>(std::string_view)>& take) const;
  // All of it at once (tests, and small texts).
  Result<std::string> Text() const;

 private:
  void Spill();
  Result<void> OpenSpillFile();

  FileIo& io_;
  std::filesystem::path folder_;
  std::size_t inMemory_ = kInMemory;
  std::size_t nextTry_ = kInMemory;  // memory size at which the next spill is tried
  std::string memory_;
  int fd_ = -1;
  std::size_t spilled_ = 0;
};

}  // namespace kasse
