#include "journal/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <system_error>

#include "common/hex_text.h"
#include "journal/file_io.h"

namespace kasse {
namespace {

using journal_io::IoError;
using journal_io::WriteAll;

std::string TwoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

std::string SystemDateYymmdd() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return TwoDigits(local.tm_year % 100) + TwoDigits(local.tm_mon + 1) + TwoDigits(local.tm_mday);
}

Journal::Journal(std::filesystem::path home, DateSource today)
    : home_(std::move(home)), today_(std::move(today)) {}

Journal::~Journal() {
  (void)CloseJournalPair();
}

Result<void> Journal::OpenJournalPair() {
  if (IsOpen()) return {};
  const std::filesystem::path folder = home_ / "Journal";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return MakeError(ErrorKind::kIo, "cannot create " + folder.string());
  const std::string base = today_() + "XMLExpBak";
  std::filesystem::path lName, sName;
  for (int number = 1; number <= 99 && lName.empty(); ++number) {
    const auto candidate = folder / (base + TwoDigits(number) + "L.xml");
    if (!Exists(candidate)) {
      lName = candidate;
      sName = folder / (base + TwoDigits(number) + "S.xml");
    }
  }
  if (lName.empty())
    return MakeError(ErrorKind::kIo, "no free journal number left for " + base + " (01 to 99)");
  const int sFd = ::open(sName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (sFd < 0) return IoError("cannot create", sName);
  const int lFd = ::open(lName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (lFd < 0) {
    // A half pair would journal the S records without their readable twins.
    const Error failure = IoError("cannot create", lName);
    ::close(sFd);
    ::unlink(sName.c_str());
    return failure;
  }
  sFd_ = sFd;
  lFd_ = lFd;
  sName_ = sName;
  lName_ = lName;
  if (auto written = JournalWrite(kJournalBoth, JournalSection::kFrame, kJournalHeader); !written)
    return written;
  return WriteParameterBlock();
}

Result<void> Journal::WriteParameterBlock() {
  const QorParams params = paramsSource_ ? paramsSource_() : QorParams{};
  const std::string parts[] = {
      "<qorParams>",
      "<qorVersion>" + params.version + "</qorVersion>",
      "<tpId>" + params.tpId + "</tpId>",
      "<tpIdNo>" + params.tpIdNo + "</tpIdNo>",
      "<itemProfile>1</itemProfile>",
      "<certificate>" + params.certificate + "</certificate></qorParams>",
  };
  for (const std::string& part : parts) {
    if (auto written = JournalWrite(kJournalBoth, JournalSection::kParams, part); !written)
      return written;
  }
  return {};
}

Result<void> Journal::JournalWrite(int targets, JournalSection section, std::string_view text) {
  if (!IsOpen()) {
    if (auto opened = OpenJournalPair(); !opened) return opened;
  }
  if ((targets & kJournalS) != 0) {
    if (auto written = WriteAll(sFd_, text, sName_); !written) return written;
    if (section == JournalSection::kRecord) pendingS_ += text;
    if (section == JournalSection::kParams) pendingParams_ += text;
  }
  if ((targets & kJournalL) != 0) {
    if (auto written = WriteAll(lFd_, text, lName_); !written) return written;
    if (section == JournalSection::kRecord) pendingL_ += text;
    // A block written to both files is buffered once.
    if (section == JournalSection::kParams && targets != kJournalBoth) pendingParams_ += text;
  }
  return {};
}

Result<void> Journal::WriteItemHash(std::string_view itemListText, ByteSpan hash) {
  std::string opening(itemListText);
  opening += "<hashTransactionItems>";
  if (auto written = JournalWrite(kJournalL, JournalSection::kRecord, opening); !written)
    return written;
  for (const Byte byte : hash) {
    if (auto written =
            JournalWrite(kJournalL, JournalSection::kRecord, HexCompact(ByteSpan(&byte, 1)));
        !written)
      return written;
  }
  return JournalWrite(kJournalL, JournalSection::kRecord, "</hashTransactionItems>");
}

Result<void> Journal::CloseJournalPair() {
  if (!IsOpen()) return {};
  Result<void> result = JournalWrite(kJournalBoth, JournalSection::kFrame, kJournalClosingTag);
  ::close(sFd_);
  ::close(lFd_);
  sFd_ = lFd_ = -1;
  pendingS_.clear();
  pendingL_.clear();
  pendingParams_.clear();
  exportS_.clear();
  exportL_.clear();
  return result;
}

}  // namespace kasse
