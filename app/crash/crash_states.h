#pragma once
// The files a power cut leaves, built from a recorded run (recorded_disk.h), the way databases
// test their durability: after the first `cut` calls, what was synced stays; what was written
// but not synced is, file by file, dropped, kept, or torn at a random byte; new, renamed or
// removed folder entries that no folder sync made durable are undone (or, now and then, all
// kept, as a file system that wrote them early would).

#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include "app/crash/recorded_disk.h"

namespace kasse::crash {

class CrashModel {
 public:
  CrashModel(DiskImage initial, std::vector<DiskOp> ops);

  std::size_t Calls() const { return ops_.size(); }
  // The cuts right after each sync of a file or a folder.
  std::vector<std::size_t> SyncPoints() const;
  // The files after a power cut that came after the first `cut` calls.
  DiskImage StateAt(std::size_t cut, std::mt19937_64& random) const;
  // The files as the first `cut` calls left them, everything written kept.
  DiskImage KeptStateAt(std::size_t cut) const;

  // The highest transaction and report numbers a file of the card (a name holding
  // `cardFile`) held on the disk after the first `cut` calls: numbers the card had made
  // durable, which it must never give again.
  struct Numbers {
    std::uint64_t transaction = 0, report = 0;
  };
  Numbers DurableCardNumbers(std::size_t cut, const std::string& cardFile) const;

 private:
  DiskImage initial_;
  std::vector<DiskOp> ops_;
};

// Writes `image` under `root` (which must not exist yet).
void Materialise(const DiskImage& image, const std::filesystem::path& root);

}  // namespace kasse::crash
