#include "common/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kasse {
namespace {

Error IoError(const std::string& what, const std::filesystem::path& path) {
  return MakeError(ErrorKind::kIo, what + " " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

Result<std::string> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return IoError("cannot open", path);
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) return IoError("cannot read", path);
  return contents.str();
}

Result<void> WriteFileAtomic(const std::filesystem::path& path, std::string_view contents,
                             Durability durability) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return IoError("cannot create", temporary);
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const Error error = IoError("cannot write", temporary);
      ::close(fd);
      ::unlink(temporary.c_str());
      return error;
    }
    written += static_cast<std::size_t>(n);
  }
  if (durability == Durability::kSyncAndRename && ::fsync(fd) != 0) {
    const Error error = IoError("cannot sync", temporary);
    ::close(fd);
    ::unlink(temporary.c_str());
    return error;
  }
  ::close(fd);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const Error error = IoError("cannot replace", path);
    ::unlink(temporary.c_str());
    return error;
  }
  if (durability == Durability::kSyncAndRename) {
    // The rename itself is durable only once the folder is synced.
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
  }
  return {};
}

}  // namespace kasse
