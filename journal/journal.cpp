#include "journal/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "common/files.h"
#include "common/hex_text.h"
#include "journal/xml_text.h"

namespace kasse {
namespace {

template <typename What>
Error IoError(const What& what, const std::filesystem::path& path, int error = 0) {
  return FileError(what, path, error != 0 ? error : errno);
}

std::string TwoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// Taken or not, a name that is there (a file, a link, anything) is never reused.
bool Exists(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

}  // namespace

std::string SystemDateYymmdd() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return TwoDigits(local.tm_year % 100) + TwoDigits(local.tm_mon + 1) + TwoDigits(local.tm_mday);
}

Journal::Journal(std::filesystem::path home, DateSource today, FileIo& io)
    : home_(std::move(home)), today_(std::move(today)), io_(io) {}

Journal::~Journal() {
  (void)CloseJournalPair();
}

Result<void> Journal::OpenJournalPair() {
  if (IsOpen()) return {};
  const std::filesystem::path folder = home_ / "Journal";
  if (Result<void> made = MakePrivateFolders(folder, io_, &unsyncedFolders_); !made) return made;
  const std::string base = today_() + "XMLExpBak";
  for (int number = 1; number <= 99; ++number) {
    const auto sName = folder / (base + TwoDigits(number) + "S.xml");
    const auto lName = folder / (base + TwoDigits(number) + "L.xml");
    // Half a pair is still taken: its twin may have been moved aside, not given up.
    if (Exists(sName) || Exists(lName)) continue;
    Result<void> created = CreatePair(sName, lName);
    if (!created && errno == EEXIST) continue;  // another register took it just now
    if (!created) return created;
    const std::size_t paramsBefore = pendingParams_.size();
    Result<void> header = JournalWrite(kJournalBoth, JournalSection::kFrame, kJournalHeader);
    if (header) header = WriteParameterBlock();
    if (header) header = Flush();  // a pair the disk refuses is found now, while it is empty
    if (!header) {
      // A pair without its header holds nothing: it goes again and its number stays free.
      // The record that wanted it is refused whole rather than written without its start.
      RemovePair();
      pendingParams_.resize(paramsBefore);
      recordRefused_ = true;
      return header;
    }
    unsyncedFolders_.push_back(folder);
    return {};
  }
  return MakeError(ErrorKind::kIo, "no free journal number left for " + base + " (01 to 99) in " +
                                       folder.string() + "; move older journals elsewhere");
}

void Journal::RemovePair() {
  io_.Close(s_.fd);
  io_.Close(l_.fd);
  io_.Unlink(s_.name);
  io_.Unlink(l_.name);
  s_ = PairFile{};
  l_ = PairFile{};
  behind_ = false;
}

Result<void> Journal::CreatePair(const std::filesystem::path& sName,
                                 const std::filesystem::path& lName) {
  // Exclusive: two registers sharing a home never write into one pair, and no existing
  // journal is ever truncated.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW;
  const int sFd = io_.Open(sName, kFlags, 0644);
  if (sFd < 0) return IoError(file_msg::kCannotCreate, sName);
  const int lFd = io_.Open(lName, kFlags, 0644);
  if (lFd < 0) {
    // A half pair would journal the S records without their readable twins; the S file is
    // still empty and ours.
    const int saved = errno;
    const Error failure = IoError(file_msg::kCannotCreate, lName);
    io_.Close(sFd);
    io_.Unlink(sName);
    errno = saved;
    return failure;
  }
  s_ = PairFile{sFd, sName, {}, false};
  l_ = PairFile{lFd, lName, {}, false};
  return {};
}

Result<void> Journal::Append(PairFile& file, std::string_view text) {
  file.unwritten += text;
  // Held until the next sync or flush: a sale is a few dozen small writes, and one call to
  // the OS per file is what the disk sees anyway. A long record goes out on its own.
  if (file.unwritten.size() < kHandOverAt && !behind_) return {};
  return HandOver(file);
}

Result<void> Journal::HandOver(PairFile& file) {
  if (file.unwritten.empty()) return {};
  std::size_t written = 0;
  Result<void> result = WriteAll(io_, file.fd, file.unwritten, file.name, &written);
  file.unwritten.erase(0, written);
  if (written > 0) file.unsynced = true;
  if (!result) behind_ = true;
  return result;
}

Result<void> Journal::SyncFile(PairFile& file) {
  if (!file.unsynced) return {};
  if (io_.DataSync(file.fd) != 0) {
    behind_ = true;
    return IoError(file_msg::kCannotSync, file.name);
  }
  file.unsynced = false;
  return {};
}

Result<void> Journal::Flush() {
  if (!IsOpen()) return {};
  // Both files are tried, so the L file of a record is kept even when the S file fails.
  Result<void> result = HandOver(s_);
  Result<void> handed = HandOver(l_);
  return result ? handed : result;
}

Result<void> Journal::Sync(int targets) {
  if (!IsOpen()) return {};
  // The folders that hold the new pair, the innermost last, so that each entry is durable.
  while (!unsyncedFolders_.empty()) {
    if (io_.SyncFolder(unsyncedFolders_.front()) != 0) {
      behind_ = true;
      return IoError(std::string("cannot sync the folder"), unsyncedFolders_.front());
    }
    unsyncedFolders_.erase(unsyncedFolders_.begin());
  }
  // Everything held goes to the OS; only the files of `targets` (and one that failed before)
  // wait for the disk.
  const bool wasBehind = behind_;
  Result<void> result = Flush();
  if ((targets & kJournalS) != 0 || wasBehind) {
    Result<void> synced = SyncFile(s_);
    if (result) result = synced;
  }
  if ((targets & kJournalL) != 0 || wasBehind) {
    Result<void> synced = SyncFile(l_);
    if (result) result = synced;
  }
  if (result) behind_ = false;
  return result;
}

Result<void> Journal::WriteRecord(int targets, std::string_view record) {
  MarkRecordStart();
  Result<void> written = JournalWrite(targets, JournalSection::kRecord, record);
  Result<void> synced = Sync(targets);
  return written ? synced : written;
}

Result<void> Journal::WriteParameterBlock() {
  const QorParams params = paramsSource_ ? paramsSource_() : QorParams{};
  params_ = params;
  const std::string parts[] = {
      "<qorParams>",
      // The card's text is as hostile as any input: escaped like the L side's.
      "<qorVersion>" + XmlEscape(params.version) + "</qorVersion>",
      "<tpId>" + XmlEscape(params.tpId) + "</tpId>",
      "<tpIdNo>" + XmlEscape(params.tpIdNo) + "</tpIdNo>",
      "<itemProfile>1</itemProfile>",
      "<certificate>" + params.certificate + "</certificate></qorParams>",
  };
  Result<void> result;
  for (const std::string& part : parts) {
    Result<void> written = JournalWrite(kJournalBoth, JournalSection::kParams, part);
    if (result) result = written;
  }
  return result;
}

Result<void> Journal::JournalWrite(int targets, JournalSection section, std::string_view text) {
  if (section == JournalSection::kRecord && recordRefused_)
    return MakeError(ErrorKind::kIo,
                     "the journal refused this record: its pair could not be "
                     "created");
  if (!IsOpen()) {
    if (Result<void> opened = OpenJournalPair(); !opened) return opened;
  }
  // The text is kept (in the file or in memory) even when the write fails, so the export
  // buffers take it either way and both files of the pair stay in step.
  Result<void> result;
  if (section == JournalSection::kRecord) {
    if ((targets & kJournalS) != 0) heldS_ += text;
    if ((targets & kJournalL) != 0) heldL_ += text;
  }
  if ((targets & kJournalS) != 0) {
    result = Append(s_, text);
    if (section == JournalSection::kRecord) pendingS_.Append(text);
    if (section == JournalSection::kParams) pendingParams_ += text;
  }
  if ((targets & kJournalL) != 0) {
    Result<void> written = Append(l_, text);
    if (result) result = written;
    if (section == JournalSection::kRecord) pendingL_.Append(text);
    // A block written to both files is buffered once.
    if (section == JournalSection::kParams && targets != kJournalBoth) pendingParams_ += text;
  }
  return result;
}

void Journal::MarkRecordStart() {
  recordRefused_ = false;
  // Text of an earlier record still held goes out first, so that what is held after a failure
  // is always whole records.
  (void)Flush();
  // Records whose every write and sync succeeded never need rescuing.
  if (!behind_) {
    heldS_.clear();
    heldL_.clear();
  }
}

HeldRecords Journal::Held() const {
  if (!behind_) return {};
  return HeldRecords{params_, heldS_, heldL_};
}

Result<void> Journal::WriteItemHash(std::string_view itemListText, ByteSpan hash) {
  std::string opening(itemListText);
  opening += "<hashTransactionItems>";
  // Every part is written even after a failure: a part missing from the middle of the text
  // held in memory would leave the file malformed once it is written out.
  Result<void> result = JournalWrite(kJournalL, JournalSection::kRecord, opening);
  for (const Byte byte : hash) {
    Result<void> written =
        JournalWrite(kJournalL, JournalSection::kRecord, HexCompact(ByteSpan(&byte, 1)));
    if (result) result = written;
  }
  Result<void> closing =
      JournalWrite(kJournalL, JournalSection::kRecord, "</hashTransactionItems>");
  return result ? closing : result;
}

void Journal::AbandonJournalPair() {
  if (IsOpen()) {
    io_.Close(s_.fd);
    io_.Close(l_.fd);
  }
  s_ = PairFile{-1, s_.name, {}, false};
  l_ = PairFile{-1, l_.name, {}, false};
  unsyncedFolders_.clear();
  behind_ = false;
  heldS_.clear();
  heldL_.clear();
}

Result<void> Journal::CloseJournalPair() {
  if (!IsOpen()) return {};
  Result<void> result = JournalWrite(kJournalBoth, JournalSection::kFrame, kJournalClosingTag);
  if (result) result = Flush();
  io_.Close(s_.fd);
  io_.Close(l_.fd);
  // The names stay readable after the close.
  s_ = PairFile{-1, s_.name, {}, false};
  l_ = PairFile{-1, l_.name, {}, false};
  unsyncedFolders_.clear();
  behind_ = false;
  pendingS_.Clear();
  pendingL_.Clear();
  pendingParams_.clear();
  exportS_.clear();
  exportL_.clear();
  return result;
}

}  // namespace kasse
