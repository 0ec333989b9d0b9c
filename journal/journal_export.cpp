// The export pair of the journal: files of the user's choice that receive the pending records
// at each flush and always end in exactly one closing tag.

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "common/files.h"
#include "journal/file_io.h"
#include "journal/journal.h"

namespace kasse {
namespace {

using journal_io::WriteAtAndTruncate;

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

}  // namespace

std::optional<std::size_t> FindClosingTag(std::string_view fileText, std::string& knownIds) {
  knownIds = ";";
  std::string tag;
  bool collecting = false;
  for (std::size_t position = 0; position < fileText.size(); ++position) {
    const char c = fileText[position];
    if (!tag.empty() || c == '<') {
      collecting = false;
      tag += c;
      if (c != '>') continue;
      if (tag == kJournalClosingTag) return position + 1 - kJournalClosingTag.size();
      // Parameter blocks carry no certificateId element; their certificate identifies them.
      if (tag == "</certificateId>" || tag == "</certificate>") knownIds += ';';
      if (tag == "<certificateId>" || tag == "<certificate>") collecting = true;
      tag.clear();
    } else if (collecting) {
      knownIds += c;
    }
  }
  return std::nullopt;
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

Result<void> Journal::CreateExportFile(const std::filesystem::path& path, std::string& pending) {
  const int fd = io_.Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return FileError("cannot create", path, errno);
  std::string text(kJournalHeader);
  text += pending;
  text += kJournalClosingTag;
  Result<void> written = WriteAll(io_, fd, text, path);
  if (written && io_.DataSync(fd) != 0) written = FileError("cannot sync", path, errno);
  io_.Close(fd);
  if (written) pending.clear();
  return written;
}

Result<void> Journal::FlushExportFile(const std::filesystem::path& path, std::string& pending,
                                      std::size_t& closingOffset) {
  auto text = ReadFile(path);
  if (!text) return text.error();
  const std::size_t offset = FindClosingTag(*text, knownCertificateIds_).value_or(text->size());
  std::string tail = pending;
  tail += kJournalClosingTag;
  if (auto written = WriteAtAndTruncate(io_, path, offset, tail); !written) return written;
  closingOffset = offset + pending.size();
  return {};
}

Result<void> Journal::PlaceParamsInto(const std::filesystem::path& path,
                                      std::size_t& closingOffset) {
  auto text = ReadFile(path);
  if (!text) return text.error();
  const std::size_t offset = FindClosingTag(*text, knownCertificateIds_).value_or(text->size());
  std::string placed;
  for (const std::string_view block : SplitBlocks(pendingParams_)) {
    const std::string id =
        ";" + std::string(Between(block, "<certificate>", "</certificate>")) + ";";
    if (knownCertificateIds_.find(id) != std::string::npos) continue;
    placed += block;
    knownCertificateIds_ += id.substr(1);
  }
  if (placed.empty()) return {};
  if (auto written =
          WriteAtAndTruncate(io_, path, offset, placed + std::string(kJournalClosingTag));
      !written)
    return written;
  closingOffset = offset + placed.size();
  return {};
}

Result<void> Journal::PlacePendingParams() {
  if (auto placed = PlaceParamsInto(exportS_, closingOffsetS_); !placed) return placed;
  if (auto placed = PlaceParamsInto(exportL_, closingOffsetL_); !placed) return placed;
  pendingParams_.clear();
  return {};
}

Result<void> Journal::ExportNew(const std::filesystem::path& chosen) {
  const auto [sName, lName] = ExportNames(chosen);
  if (auto created = CreateExportFile(sName, pendingS_); !created) return created;
  if (auto created = CreateExportFile(lName, pendingL_); !created) return created;
  exportS_ = sName;
  exportL_ = lName;
  return PlacePendingParams();
}

Result<void> Journal::ExportOpen(const std::filesystem::path& chosen) {
  const auto [sName, lName] = ExportNames(chosen);
  for (const auto& [path, pending] : {std::pair{sName, &pendingS_}, std::pair{lName, &pendingL_}}) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      continue;
    }
    if (auto created = CreateExportFile(path, *pending); !created) return created;
  }
  exportS_ = sName;
  exportL_ = lName;
  return PlacePendingParams();
}

Result<void> Journal::ExportFlush() {
  if (!HasExportPair()) return {};
  if (auto flushed = FlushExportFile(exportS_, pendingS_, closingOffsetS_); !flushed)
    return flushed;
  pendingS_.clear();
  if (auto flushed = FlushExportFile(exportL_, pendingL_, closingOffsetL_); !flushed)
    return flushed;
  pendingL_.clear();
  return PlacePendingParams();
}

Result<void> Journal::ExportFlushIfDue() {
  if (pendingL_.size() <= kFlushThreshold) return {};
  return ExportFlush();
}

void Journal::ResetExportBuffers() {
  pendingS_.clear();
  pendingL_.clear();
  pendingParams_.clear();
  exportS_.clear();
  exportL_.clear();
}

}  // namespace kasse
