#pragma once
// The file system calls that make data durable, behind one interface, so that tests can make
// any single write or sync fail (a full disk, an I/O error) and check what the register does
// then. Production code uses PosixFileIo(); every call returns -1 and sets errno on failure,
// exactly like the system call it stands for.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>

namespace kasse {

class FileIo {
 public:
  virtual ~FileIo() = default;
  virtual int Open(const std::filesystem::path& path, int flags, mode_t mode) = 0;
  virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
  virtual int DataSync(int fd) = 0;  // fdatasync: the bytes, not every attribute
  virtual int Sync(int fd) = 0;      // fsync
  virtual int Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual int Close(int fd) = 0;
  // Makes the folder's entries (a created or renamed file) durable.
  virtual int SyncFolder(const std::filesystem::path& folder) = 0;
};

// The real system calls; one instance for the whole process, safe from any thread.
FileIo& PosixFileIo();

}  // namespace kasse
