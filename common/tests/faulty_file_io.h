#pragma once
// A FileIo for tests: the real calls, counted, except those a test marks to fail with an errno
// of its choice (ENOSPC, EIO), by call number or by what is written.

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <string_view>

#include "common/file_io.h"

namespace kasse::testing {

class FaultyFileIo : public FileIo {
 public:
  // Return an errno to fail the call, 0 to let it through. `call` counts from 1 per kind.
  std::function<int(int call, std::string_view data)> writeFault;
  std::function<int(int call)> syncFault;  // DataSync, Sync and SyncFolder alike
  std::function<void()> onSync;            // after every sync that succeeded
  std::function<void(const std::filesystem::path&)> beforeOpen;  // another process acts first
  int writes = 0, syncs = 0, folderSyncs = 0;
  // When set, the next write that is let through hands only this many bytes to the file, as a
  // write cut short by a full disk does.
  std::optional<std::size_t> cutNextWrite;

  // Fails nothing from now on.
  void Heal() {
    writeFault = nullptr;
    syncFault = nullptr;
  }

  int Open(const std::filesystem::path& path, int flags, mode_t mode) override {
    if (beforeOpen) beforeOpen(path);
    return PosixFileIo().Open(path, flags, mode);
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    ++writes;
    if (writeFault) {
      if (const int error = writeFault(writes, {static_cast<const char*>(data), size}); error) {
        errno = error;
        return -1;
      }
    }
    if (cutNextWrite) {
      size = std::min(size, *cutNextWrite);
      cutNextWrite.reset();
    }
    return PosixFileIo().Write(fd, data, size);
  }
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    ++writes;
    if (writeFault) {
      if (const int error = writeFault(writes, {static_cast<const char*>(data), size}); error) {
        errno = error;
        return -1;
      }
    }
    return PosixFileIo().WriteAt(fd, data, size, offset);
  }
  int Truncate(int fd, off_t size) override { return PosixFileIo().Truncate(fd, size); }
  int ChangeMode(int fd, mode_t mode) override { return PosixFileIo().ChangeMode(fd, mode); }
  int Link(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return PosixFileIo().Link(from, to);
  }
  int Unlink(const std::filesystem::path& path) override { return PosixFileIo().Unlink(path); }
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override {
    return PosixFileIo().MakeFolder(path, mode);
  }
  int DataSync(int fd) override { return Synced(PosixFileIo().DataSync(fd)); }
  int Sync(int fd) override { return Synced(PosixFileIo().Sync(fd)); }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return PosixFileIo().Rename(from, to);
  }
  int Close(int fd) override { return PosixFileIo().Close(fd); }
  int SyncFolder(const std::filesystem::path& folder) override {
    ++folderSyncs;
    return Synced(PosixFileIo().SyncFolder(folder));
  }

 private:
  int Synced(int done) {
    ++syncs;
    if (syncFault) {
      if (const int error = syncFault(syncs); error) {
        errno = error;
        return -1;
      }
    }
    if (done == 0 && onSync) onSync();
    return done;
  }
};

}  // namespace kasse::testing
