// The export pair of the journal: files of the user's choice that receive the pending records
// at each flush and always end in exactly one closing tag; and the pending text itself, held in
// memory up to a threshold and in a private file of the state folder beyond it.

#include "journal/journal_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <vector>

#include "common/files.h"
#include "journal/journal.h"

namespace kasse {
namespace {

constexpr std::size_t kReadPiece = std::size_t{64} << 10;
// Longer tags than "</certificateId>" are followed to their end but not kept.
constexpr std::size_t kLongestTag = 16;
// Certificate identifiers collected from one export file; a hostile file stops here (a block of
// a card whose identifier was dropped is only placed once more).
constexpr std::size_t kKnownIdsCap = std::size_t{1} << 20;

std::string_view Between(std::string_view text, std::string_view open, std::string_view close) {
  const std::size_t start = text.find(open);
  if (start == std::string_view::npos) return {};
  const std::size_t from = start + open.size();
  const std::size_t end = text.find(close, from);
  return end == std::string_view::npos ? text.substr(from) : text.substr(from, end - from);
}

// The parameter blocks in PendingParams, each from <qorParams> to </qorParams>.
std::vector<std::string_view> SplitBlocks(std::string_view pending) {
  constexpr std::string_view kEnd = "</qorParams>";
  std::vector<std::string_view> blocks;
  std::size_t start = 0;
  while (start < pending.size()) {
    const std::size_t end = pending.find(kEnd, start);
    const std::size_t stop = end == std::string_view::npos ? pending.size() : end + kEnd.size();
    blocks.push_back(pending.substr(start, stop - start));
    start = stop;
  }
  return blocks;
}

// FindClosingTag over a text that comes in pieces: one pass, memory bounded whatever the file.
class ClosingTagScan {
 public:
  explicit ClosingTagScan(std::string& knownIds) : knownIds_(knownIds) { knownIds_ = ";"; }

  // The next bytes; true once the closing tag is found (nothing after it is looked at).
  bool Feed(std::string_view bytes) {
    for (const char c : bytes) {
      ++position_;
      if (inTag_ || c == '<') {
        collecting_ = false;
        inTag_ = true;
        if (tag_.size() < kLongestTag)
          tag_ += c;
        else
          tooLong_ = true;
        if (c == '>' && CompleteTag()) return true;
      } else if (collecting_ && knownIds_.size() < kKnownIdsCap) {
        knownIds_ += c;
      }
    }
    return false;
  }
  std::optional<std::size_t> Closing() const { return closing_; }
  std::size_t Position() const { return position_; }

 private:
  bool CompleteTag() {
    const bool known = !tooLong_;
    if (known && tag_ == kJournalClosingTag) {
      closing_ = position_ - kJournalClosingTag.size();
      return true;
    }
    // Parameter blocks carry no certificateId element; their certificate identifies them.
    if (known && (tag_ == "</certificateId>" || tag_ == "</certificate>")) knownIds_ += ';';
    if (known && (tag_ == "<certificateId>" || tag_ == "<certificate>")) collecting_ = true;
    tag_.clear();
    inTag_ = tooLong_ = false;
    return false;
  }

  std::string& knownIds_;
  std::string tag_;
  bool inTag_ = false, tooLong_ = false, collecting_ = false;
  std::size_t position_ = 0;
  std::optional<std::size_t> closing_;
};

// Where an export file's tail begins (its closing tag, else its end), read piece by piece.
Result<std::size_t> ScanExportFile(const std::filesystem::path& path, std::string& knownIds) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileError(file_msg::kCannotOpen, path, errno);
  struct stat info {};
  Result<std::size_t> result = std::size_t{0};
  if (::fstat(fd, &info) != 0) result = FileError(file_msg::kCannotRead, path, errno);
  if (result && !S_ISREG(info.st_mode))
    result = MakeError(ErrorKind::kUnusableInput,
                       "cannot read " + path.string() + ": not a regular file");
  ClosingTagScan scan(knownIds);
  std::string piece(kReadPiece, '\0');
  while (result) {
    const ssize_t n = ::read(fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = FileError(file_msg::kCannotRead, path, errno);
    if (n <= 0) break;
    if (scan.Feed(std::string_view(piece.data(), static_cast<std::size_t>(n)))) break;
  }
  ::close(fd);
  if (!result) return result;
  return scan.Closing().value_or(scan.Position());
}

// Text written into an export file from `at` on, through the journal's FileIo.
struct TailWrite {
  FileIo& io;
  const std::filesystem::path& path;
  int fd;
  std::size_t at;

  Result<void> Put(std::string_view text) {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n =
          io.WriteAt(fd, text.data() + done, text.size() - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return FileError(file_msg::kCannotWrite, path, n == 0 ? ENOSPC : errno);
      done += static_cast<std::size_t>(n);
    }
    at += text.size();
    return {};
  }
};

constexpr int kCreateExport = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr int kOpenExport = O_RDWR | O_NOFOLLOW | O_CLOEXEC;

// Opens `path` with `flags`, lets `fill` write from `offset` on, then cuts the file after what
// was written and puts it on the disk: the one way the export files are written.
Result<void> WriteTail(FileIo& io, const std::filesystem::path& path, int flags, std::size_t offset,
                       const std::function<Result<void>(TailWrite&)>& fill) {
  const int fd = io.Open(path, flags, 0644);
  if (fd < 0)
    return FileError((flags & O_CREAT) != 0 ? file_msg::kCannotCreate : file_msg::kCannotOpen, path,
                     errno);
  TailWrite tail{io, path, fd, offset};
  Result<void> result = fill(tail);
  // Whatever followed the old closing tag would leave a second one or trailing garbage.
  if (result && io.Truncate(fd, static_cast<off_t>(tail.at)) != 0)
    result = FileError(file_msg::kCannotTruncate, path, errno);
  if (result && io.DataSync(fd) != 0) result = FileError(file_msg::kCannotSync, path, errno);
  io.Close(fd);
  return result;
}

Result<void> PutPending(TailWrite& tail, const PendingText& pending) {
  return pending.ForEachPiece([&tail](std::string_view piece) { return tail.Put(piece); });
}

bool Exists(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

std::string SpillName() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = ".journal-pending.";
  for (int i = 0; i < 8; ++i)
    name += kLetters[random() % (sizeof kLetters - 1)];
  return name + ".tmp";
}

}  // namespace

void PendingText::SpillInto(std::filesystem::path folder, std::size_t inMemory) {
  folder_ = std::move(folder);
  inMemory_ = std::max<std::size_t>(inMemory, 1);
  nextTry_ = memory_.size() + inMemory_;
}

void PendingText::Append(std::string_view text) {
  memory_ += text;
  if (!folder_.empty() && memory_.size() > nextTry_) Spill();
}

void PendingText::Spill() {
  Result<void> done = fd_ >= 0 ? Result<void>{} : OpenSpillFile();
  std::size_t written = 0;
  if (done) done = WriteAll(io_, fd_, memory_, folder_, &written);
  spilled_ += written;
  memory_.erase(0, written);
  // What the file did not take stays in memory, and the file is tried again a threshold later.
  nextTry_ = memory_.size() + inMemory_;
}

Result<void> PendingText::OpenSpillFile() {
  if (Result<void> made = MakePrivateFolders(folder_, io_); !made) return made;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path name = folder_ / SpillName();
    const int fd = io_.Open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return FileError(file_msg::kCannotCreate, name, errno);
    // From here on only the descriptor holds it.
    io_.Unlink(name);
    fd_ = fd;
    return {};
  }
  return FileError(file_msg::kCannotCreate, folder_ / ".journal-pending", EEXIST);
}

void PendingText::Clear() {
  if (fd_ >= 0) io_.Close(fd_);
  fd_ = -1;
  spilled_ = 0;
  memory_.clear();
  nextTry_ = inMemory_;
}

Result<void> PendingText::ForEachPiece(
    const std::function<Result<void>(std::string_view)>& take) const {
  std::string piece;
  for (std::size_t at = 0; at < spilled_;) {
    piece.resize(std::min(kReadPiece, spilled_ - at));
    const ssize_t n = ::pread(fd_, piece.data(), piece.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      return FileError("cannot read the journal text waiting in", folder_, n == 0 ? EIO : errno);
    if (Result<void> taken = take(std::string_view(piece.data(), static_cast<std::size_t>(n)));
        !taken)
      return taken;
    at += static_cast<std::size_t>(n);
  }
  if (memory_.empty()) return {};
  return take(memory_);
}

Result<std::string> PendingText::Text() const {
  std::string text;
  text.reserve(Size());
  Result<void> read = ForEachPiece([&text](std::string_view piece) -> Result<void> {
    text += piece;
    return {};
  });
  if (!read) return read.error();
  return text;
}

std::optional<std::size_t> FindClosingTag(std::string_view fileText, std::string& knownIds) {
  ClosingTagScan scan(knownIds);
  scan.Feed(fileText);
  return scan.Closing();
}

std::pair<std::filesystem::path, std::filesystem::path> ExportNames(
    const std::filesystem::path& chosen) {
  // The dot of the file name, not one of a folder further up the path.
  std::string name = chosen.filename().string();
  std::size_t dot = name.find('.');
  if (dot == std::string::npos) dot = name.size();
  if (dot > 0 && (name[dot - 1] == 'L' || name[dot - 1] == 'S')) name.erase(--dot, 1);
  std::string sName = name, lName = name;
  sName.insert(dot, "S");
  lName.insert(dot, "L");
  return {chosen.parent_path() / sName, chosen.parent_path() / lName};
}

Result<void> Journal::CreateExportFile(const std::filesystem::path& path,
                                       const PendingText& pending) {
  return WriteTail(io_, path, kCreateExport, 0, [&pending](TailWrite& tail) {
    Result<void> written = tail.Put(kJournalHeader);
    if (written) written = PutPending(tail, pending);
    if (written) written = tail.Put(kJournalClosingTag);
    return written;
  });
}

Result<void> Journal::FlushExportFile(const std::filesystem::path& path, const PendingText& pending,
                                      std::size_t& closingOffset) {
  const Result<std::size_t> offset = ScanExportFile(path, knownCertificateIds_);
  if (!offset) return offset.error();
  Result<void> written = WriteTail(io_, path, kOpenExport, *offset, [&pending](TailWrite& tail) {
    Result<void> put = PutPending(tail, pending);
    return put ? tail.Put(kJournalClosingTag) : put;
  });
  if (written) closingOffset = *offset + pending.Size();
  return written;
}

Result<void> Journal::PlaceParamsInto(const std::filesystem::path& path,
                                      std::size_t& closingOffset) {
  const Result<std::size_t> offset = ScanExportFile(path, knownCertificateIds_);
  if (!offset) return offset.error();
  std::string placed;
  for (const std::string_view block : SplitBlocks(pendingParams_)) {
    const std::string id =
        ";" + std::string(Between(block, "<certificate>", "</certificate>")) + ";";
    if (knownCertificateIds_.find(id) != std::string::npos) continue;
    placed += block;
    knownCertificateIds_ += id.substr(1);
  }
  if (placed.empty()) return {};
  placed += kJournalClosingTag;
  Result<void> written = WriteTail(io_, path, kOpenExport, *offset,
                                   [&placed](TailWrite& tail) { return tail.Put(placed); });
  if (written) closingOffset = *offset + placed.size() - kJournalClosingTag.size();
  return written;
}

Result<void> Journal::PlacePendingParams() {
  if (pendingParams_.empty()) return {};
  if (auto placed = PlaceParamsInto(exportS_, closingOffsetS_); !placed) return placed;
  if (auto placed = PlaceParamsInto(exportL_, closingOffsetL_); !placed) return placed;
  pendingParams_.clear();
  return {};
}

Result<void> Journal::ExportNew(const std::filesystem::path& chosen) {
  const auto [sName, lName] = ExportNames(chosen);
  // A new pair never takes over files that are there: they may be another run's export.
  for (const std::filesystem::path& name : {sName, lName})
    if (Exists(name)) return FileError(file_msg::kCannotCreate, name, EEXIST);
  Result<void> created = CreateExportFile(sName, pendingS_);
  if (created) {
    created = CreateExportFile(lName, pendingL_);
    // Half a pair is no export pair: the S file, made just now, goes again.
    if (!created) io_.Unlink(sName);
  }
  if (!created) return created;
  pendingS_.Clear();
  pendingL_.Clear();
  exportS_ = sName;
  exportL_ = lName;
  return PlacePendingParams();
}

Result<void> Journal::ExportOpen(const std::filesystem::path& chosen) {
  const auto [sName, lName] = ExportNames(chosen);
  for (const auto& [path, pending] : {std::pair{sName, &pendingS_}, std::pair{lName, &pendingL_}}) {
    if (Exists(path)) {
      // It must take the next flush: writable, a regular file, not a link.
      const int fd = io_.Open(path, kOpenExport, 0);
      if (fd < 0) return FileError(file_msg::kCannotOpen, path, errno);
      struct stat info {};
      const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
      io_.Close(fd);
      if (!regular)
        return MakeError(ErrorKind::kUnusableInput,
                         "cannot open " + path.string() + ": not a regular file");
      continue;
    }
    if (auto created = CreateExportFile(path, *pending); !created) return created;
    pending->Clear();
  }
  exportS_ = sName;
  exportL_ = lName;
  return PlacePendingParams();
}

Result<void> Journal::ExportFlush() {
  if (!HasExportPair()) return {};
  if (auto flushed = FlushExportFile(exportS_, pendingS_, closingOffsetS_); !flushed)
    return flushed;
  pendingS_.Clear();
  if (auto flushed = FlushExportFile(exportL_, pendingL_, closingOffsetL_); !flushed)
    return flushed;
  pendingL_.Clear();
  return PlacePendingParams();
}

Result<void> Journal::ExportFlushIfDue() {
  if (pendingL_.Size() <= kFlushThreshold) return {};
  return ExportFlush();
}

void Journal::ResetExportBuffers() {
  pendingS_.Clear();
  pendingL_.Clear();
  pendingParams_.clear();
  exportS_.clear();
  exportL_.clear();
}

void Journal::SpillPendingInto(const std::filesystem::path& folder, std::size_t inMemory) {
  pendingS_.SpillInto(folder, inMemory);
  pendingL_.SpillInto(folder, inMemory);
}

}  // namespace kasse
