#pragma once
// Every call that changes a file of the register, the card or its issuer, behind one interface,
// so that tests can make any single call fail (a full disk, an I/O error) or record a whole run
// and rebuild the files a power cut at any moment would leave. Production code uses
// PosixFileIo(); every call returns -1 and sets errno on failure, exactly like the system call
// it stands for. Reads stay outside: they change nothing a power cut could lose.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>

namespace kasse {

class FileIo {
 public:
  virtual ~FileIo() = default;
  virtual int Open(const std::filesystem::path& path, int flags, mode_t mode) = 0;
  virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
  // pwrite: at `offset`, the descriptor's position unchanged.
  virtual ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) = 0;
  virtual int Truncate(int fd, off_t size) = 0;     // ftruncate
  virtual int DataSync(int fd) = 0;                 // fdatasync: the bytes, not every attribute
  virtual int Sync(int fd) = 0;                     // fsync
  virtual int ChangeMode(int fd, mode_t mode) = 0;  // fchmod
  virtual int Close(int fd) = 0;
  virtual int Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // A second name for a file; fails with EEXIST where `to` exists, unlike Rename.
  virtual int Link(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual int Unlink(const std::filesystem::path& path) = 0;
  // One folder (mkdir); the umask applies, as for the system call.
  virtual int MakeFolder(const std::filesystem::path& path, mode_t mode) = 0;
  // Makes the folder's entries (a created, renamed or removed file) durable.
  virtual int SyncFolder(const std::filesystem::path& folder) = 0;
};

// The real system calls; one instance for the whole process, safe from any thread.
FileIo& PosixFileIo();

}  // namespace kasse
