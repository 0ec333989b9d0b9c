#pragma once
// A disk for power-cut tests: a FileIo that does every call for real and records it, so that
// the files a power cut at any moment would have left can be built afterwards (crash_states.h).
// The register and its embedded card write through one such FileIo, so their calls are
// recorded on one time line. Thread-safe: the card writes from the transmit thread.

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/file_io.h"

namespace kasse::crash {

struct DiskOp {
  enum class Kind {
    kCreate,      // a new, empty file named `path` (its folder's entry, not yet durable)
    kWrite,       // `data` at `offset` of file `file`
    kTruncate,    // file `file` cut or grown to `size`
    kSync,        // the bytes of file `file` on the disk
    kRename,      // `path` renamed to `to` (replacing what `to` named)
    kLink,        // `to` names the file `path` names
    kUnlink,      // `path` no longer names a file
    kMakeFolder,  // folder `path`
    kSyncFolder,  // the entries of folder `path` on the disk
  };
  Kind kind;
  std::uint64_t file = 0;
  std::filesystem::path path, to;
  std::uint64_t offset = 0, size = 0;
  std::string data;
};

// The files under a folder when recording began: all of them on the disk.
struct DiskImage {
  std::map<std::filesystem::path, std::string> files;  // relative paths
  std::vector<std::filesystem::path> folders;          // relative paths
};

// Every regular file and folder under `root`.
DiskImage ReadImage(const std::filesystem::path& root);

class RecordingFileIo final : public FileIo {
 public:
  // Records calls on files under `root` (paths relative to it); calls elsewhere are done but
  // not recorded. `root` must hold `image` when recording starts.
  RecordingFileIo(std::filesystem::path root, const DiskImage& image);

  std::vector<DiskOp> Ops() const;
  const std::filesystem::path& Root() const { return root_; }

  int Open(const std::filesystem::path& path, int flags, mode_t mode) override;
  ssize_t Write(int fd, const void* data, std::size_t size) override;
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override;
  int Truncate(int fd, off_t size) override;
  int DataSync(int fd) override;
  int Sync(int fd) override;
  int ChangeMode(int fd, mode_t mode) override;
  int Close(int fd) override;
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  int Link(const std::filesystem::path& from, const std::filesystem::path& to) override;
  int Unlink(const std::filesystem::path& path) override;
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override;
  int SyncFolder(const std::filesystem::path& folder) override;

 private:
  // The path relative to the root, or empty when it lies outside.
  std::filesystem::path Inside(const std::filesystem::path& path) const;
  void Record(DiskOp op);

  std::filesystem::path root_;
  mutable std::mutex mutex_;
  std::vector<DiskOp> ops_;
  std::map<std::filesystem::path, std::uint64_t> names_;  // relative path -> file
  std::map<int, std::uint64_t> open_;                     // descriptor -> file
  std::uint64_t nextFile_ = 1;
};

// The real calls, but syncs return at once: for runs whose own durability is not what a test
// looks at, so that thousands of them do not wait for the disk.
class UnsyncedFileIo final : public FileIo {
 public:
  int Open(const std::filesystem::path& path, int flags, mode_t mode) override {
    return PosixFileIo().Open(path, flags, mode);
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return PosixFileIo().Write(fd, data, size);
  }
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    return PosixFileIo().WriteAt(fd, data, size, offset);
  }
  int Truncate(int fd, off_t size) override { return PosixFileIo().Truncate(fd, size); }
  int DataSync(int) override { return 0; }
  int Sync(int) override { return 0; }
  int ChangeMode(int fd, mode_t mode) override { return PosixFileIo().ChangeMode(fd, mode); }
  int Close(int fd) override { return PosixFileIo().Close(fd); }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return PosixFileIo().Rename(from, to);
  }
  int Link(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return PosixFileIo().Link(from, to);
  }
  int Unlink(const std::filesystem::path& path) override { return PosixFileIo().Unlink(path); }
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override {
    return PosixFileIo().MakeFolder(path, mode);
  }
  int SyncFolder(const std::filesystem::path&) override { return 0; }
};

}  // namespace kasse::crash
