#include "app/crash/recorded_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/files.h"

namespace kasse::crash {

DiskImage ReadImage(const std::filesystem::path& root) {
  DiskImage image;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::filesystem::path relative = std::filesystem::relative(it->path(), root);
    if (it->is_directory())
      image.folders.push_back(relative);
    else if (const Result<std::string> read = ReadFile(it->path()); it->is_regular_file() && read)
      image.files[relative] = *read;
  }
  return image;
}

RecordingFileIo::RecordingFileIo(std::filesystem::path root, const DiskImage& image)
    : root_(std::filesystem::weakly_canonical(root)) {
  for (const auto& [path, contents] : image.files)
    names_[path] = nextFile_++;
}

std::vector<DiskOp> RecordingFileIo::Ops() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return ops_;
}

std::filesystem::path RecordingFileIo::Inside(const std::filesystem::path& path) const {
  const std::filesystem::path absolute =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path));
  const std::filesystem::path relative = absolute.lexically_relative(root_);
  if (relative.empty() || relative.begin()->string() == "..") return {};
  return relative;
}

void RecordingFileIo::Record(DiskOp op) {
  ops_.push_back(std::move(op));
}

int RecordingFileIo::Open(const std::filesystem::path& path, int flags, mode_t mode) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::filesystem::path inside = Inside(path);
  const int fd = PosixFileIo().Open(path, flags, mode);
  // A folder opened to set its mode is no file: recorded as one, a state would hold a file in
  // its place, which only root could then pass through.
  if (fd < 0 || inside.empty() || (flags & O_DIRECTORY) != 0) return fd;
  auto named = names_.find(inside);
  if (named == names_.end()) {
    named = names_.emplace(inside, nextFile_++).first;
    Record({DiskOp::Kind::kCreate, named->second, inside, {}, 0, 0, {}});
  }
  if ((flags & O_TRUNC) != 0) Record({DiskOp::Kind::kTruncate, named->second, {}, {}, 0, 0, {}});
  open_[fd] = named->second;
  return fd;
}

ssize_t RecordingFileIo::Write(int fd, const void* data, std::size_t size) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const ssize_t n = PosixFileIo().Write(fd, data, size);
  const auto file = open_.find(fd);
  if (n > 0 && file != open_.end()) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    Record({DiskOp::Kind::kWrite,
            file->second,
            {},
            {},
            static_cast<std::uint64_t>(end - n),
            0,
            std::string(static_cast<const char*>(data), static_cast<std::size_t>(n))});
  }
  return n;
}

ssize_t RecordingFileIo::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const ssize_t n = PosixFileIo().WriteAt(fd, data, size, offset);
  const auto file = open_.find(fd);
  if (n > 0 && file != open_.end())
    Record({DiskOp::Kind::kWrite,
            file->second,
            {},
            {},
            static_cast<std::uint64_t>(offset),
            0,
            std::string(static_cast<const char*>(data), static_cast<std::size_t>(n))});
  return n;
}

int RecordingFileIo::Truncate(int fd, off_t size) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const int done = PosixFileIo().Truncate(fd, size);
  const auto file = open_.find(fd);
  if (done == 0 && file != open_.end())
    Record(
        {DiskOp::Kind::kTruncate, file->second, {}, {}, 0, static_cast<std::uint64_t>(size), {}});
  return done;
}

int RecordingFileIo::DataSync(int fd) {
  return Sync(fd);
}

int RecordingFileIo::Sync(int fd) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // The test judges durability by the record; the real disk need not wait.
  const auto file = open_.find(fd);
  if (file != open_.end()) Record({DiskOp::Kind::kSync, file->second, {}, {}, 0, 0, {}});
  return 0;
}

int RecordingFileIo::ChangeMode(int fd, mode_t mode) {
  return PosixFileIo().ChangeMode(fd, mode);
}

int RecordingFileIo::Close(int fd) {
  const std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(fd);
  return PosixFileIo().Close(fd);
}

int RecordingFileIo::Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::filesystem::path a = Inside(from), b = Inside(to);
  const int done = PosixFileIo().Rename(from, to);
  if (done != 0 || a.empty() || b.empty()) return done;
  const auto named = names_.find(a);
  if (named != names_.end()) {
    names_[b] = named->second;
    names_.erase(a);
  }
  Record({DiskOp::Kind::kRename, 0, a, b, 0, 0, {}});
  return done;
}

int RecordingFileIo::Link(const std::filesystem::path& from, const std::filesystem::path& to) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::filesystem::path a = Inside(from), b = Inside(to);
  const int done = PosixFileIo().Link(from, to);
  if (done != 0 || a.empty() || b.empty()) return done;
  if (const auto named = names_.find(a); named != names_.end()) names_[b] = named->second;
  Record({DiskOp::Kind::kLink, 0, a, b, 0, 0, {}});
  return done;
}

int RecordingFileIo::Unlink(const std::filesystem::path& path) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::filesystem::path inside = Inside(path);
  const int done = PosixFileIo().Unlink(path);
  if (done != 0 || inside.empty()) return done;
  names_.erase(inside);
  Record({DiskOp::Kind::kUnlink, 0, inside, {}, 0, 0, {}});
  return done;
}

int RecordingFileIo::MakeFolder(const std::filesystem::path& path, mode_t mode) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::filesystem::path inside = Inside(path);
  const int done = PosixFileIo().MakeFolder(path, mode);
  if (done == 0 && !inside.empty()) Record({DiskOp::Kind::kMakeFolder, 0, inside, {}, 0, 0, {}});
  return done;
}

int RecordingFileIo::SyncFolder(const std::filesystem::path& folder) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::filesystem::path inside = Inside(folder);
  // The root itself is relative path ".".
  const std::filesystem::path relative =
      inside.empty() && std::filesystem::weakly_canonical(folder) == root_ ? "." : inside;
  if (!relative.empty()) Record({DiskOp::Kind::kSyncFolder, 0, relative, {}, 0, 0, {}});
  return 0;
}

}  // namespace kasse::crash
