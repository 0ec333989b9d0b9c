#include "journal/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kasse::journal_io {

Error IoError(const std::string& what, const std::filesystem::path& path) {
  return MakeError(ErrorKind::kIo, what + " " + path.string() + ": " + std::strerror(errno));
}

Result<void> WriteAll(int fd, std::string_view text, const std::filesystem::path& path) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return IoError("cannot write", path);
    written += static_cast<std::size_t>(n);
  }
  return {};
}

Result<void> WriteAtAndTruncate(const std::filesystem::path& path, std::size_t offset,
                                std::string_view text) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return IoError("cannot open", path);
  Result<void> result;
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    result = IoError("cannot seek in", path);
  } else {
    result = WriteAll(fd, text, path);
    // Whatever followed the old closing tag would leave a second one or trailing garbage.
    if (result && ::ftruncate(fd, static_cast<off_t>(offset + text.size())) != 0)
      result = IoError("cannot truncate", path);
  }
  ::close(fd);
  return result;
}

}  // namespace kasse::journal_io
