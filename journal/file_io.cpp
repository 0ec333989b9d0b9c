#include "journal/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/user_folders.h"

namespace kasse::journal_io {

Error IoError(const std::string& what, const std::filesystem::path& path, int error) {
  return MakeError(ErrorKind::kIo, what + " " + PathError(path, error != 0 ? error : errno));
}

Result<void> WriteAll(FileIo& io, int fd, std::string_view text, const std::filesystem::path& path,
                      std::size_t* written) {
  std::size_t done = 0;
  Result<void> result;
  while (done < text.size()) {
    const ssize_t n = io.Write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result = IoError("cannot write", path, n == 0 ? EIO : errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return result;
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
