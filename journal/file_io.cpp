#include "journal/file_io.h"

#include <fcntl.h>

#include <cerrno>

#include "common/files.h"

namespace kasse::journal_io {

Result<void> WriteAtAndTruncate(FileIo& io, const std::filesystem::path& path, std::size_t offset,
                                std::string_view text) {
  const int fd = io.Open(path, O_RDWR | O_NOFOLLOW, 0);
  if (fd < 0) return FileError(file_msg::kCannotOpen, path, errno);
  Result<void> result;
  for (std::size_t done = 0; result && done < text.size();) {
    const ssize_t n =
        io.WriteAt(fd, text.data() + done, text.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) result = FileError(file_msg::kCannotWrite, path, n == 0 ? ENOSPC : errno);
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  // Whatever followed the old closing tag would leave a second one or trailing garbage.
  if (result && io.Truncate(fd, static_cast<off_t>(offset + text.size())) != 0)
    result = FileError(file_msg::kCannotTruncate, path, errno);
  if (result && io.DataSync(fd) != 0) result = FileError(file_msg::kCannotSync, path, errno);
  io.Close(fd);
  return result;
}

}  // namespace kasse::journal_io
