#include "journal/journal_rescue.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "common/files.h"
#include "common/hex_text.h"
#include "common/sha.h"

namespace kasse {
namespace {

constexpr std::string_view kHeader = "kasse-rescue 1\n";
constexpr std::size_t kMaxField = std::size_t{64} << 20;

std::string Field(std::string_view name, std::string_view value) {
  return std::string(name) + " " + std::to_string(value.size()) + "\n" + std::string(value) + "\n";
}

std::string Sum(std::string_view text) {
  const Sha256Digest digest =
      Sha256(ByteSpan(reinterpret_cast<const Byte*>(text.data()), text.size()));
  return HexCompact(digest);
}

// Reads "NAME LENGTH\n" + bytes + "\n" at `at`; moves `at` behind it.
Result<std::string> ReadField(std::string_view text, std::size_t& at, std::string_view name) {
  const auto bad = [&] {
    return MakeError(ErrorKind::kMalformed, "rescue file: field " + std::string(name) + " broken",
                     at);
  };
  if (text.substr(at, name.size() + 1) != std::string(name) + " ") return bad();
  std::size_t pos = at + name.size() + 1;
  std::size_t length = 0;
  std::size_t digits = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 12) {
    length = length * 10 + static_cast<std::size_t>(text[pos] - '0');
    ++pos;
    ++digits;
  }
  if (digits == 0 || pos >= text.size() || text[pos] != '\n' || length > kMaxField) return bad();
  ++pos;
  if (text.size() - pos < length + 1 || text[pos + length] != '\n') return bad();
  std::string value(text.substr(pos, length));
  at = pos + length + 1;
  return value;
}

// A name that tells the home apart without showing its path: 16 hexadecimal digits.
std::string HomeKey(const std::filesystem::path& home) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(home, error);
  return Sum((error ? home : canonical).string()).substr(0, 16);
}

// The Base64 text of each element whose name ends in `suffix` ("Request>"), in order.
void CollectElements(std::string_view sText, std::string_view suffix, std::string_view label,
                     std::vector<std::pair<std::size_t, std::string>>& lines) {
  for (std::size_t at = sText.find('<'); at != std::string_view::npos;
       at = sText.find('<', at + 1)) {
    const std::size_t close = sText.find('>', at);
    if (close == std::string_view::npos) return;
    const std::string_view tag = sText.substr(at, close - at + 1);
    if (tag.size() < suffix.size() + 2 || tag[1] == '/' || !tag.ends_with(suffix)) continue;
    const std::string end = "</" + std::string(tag.substr(1));
    const std::size_t stop = sText.find(end, close);
    if (stop == std::string_view::npos) continue;
    lines.emplace_back(at, std::string(label) + ": " +
                               std::string(sText.substr(close + 1, stop - close - 1)) + "\n");
  }
}

}  // namespace

std::string RescueText(const RescuedRecords& rescued) {
  const HeldRecords& r = rescued.records;
  std::string text(kHeader);
  text += Field("home", rescued.home.string());
  text += Field("version", r.params.version);
  text += Field("tpId", r.params.tpId);
  text += Field("tpIdNo", r.params.tpIdNo);
  text += Field("certificate", r.params.certificate);
  text += Field("s", r.s);
  text += Field("l", r.l);
  return text + "sum " + Sum(text) + "\n";
}

Result<RescuedRecords> ParseRescue(std::string_view text) {
  if (!text.starts_with(kHeader)) return MakeError(ErrorKind::kMalformed, "not a rescue file", 0);
  std::size_t at = kHeader.size();
  std::string values[7];
  const char* names[7] = {"home", "version", "tpId", "tpIdNo", "certificate", "s", "l"};
  for (int i = 0; i < 7; ++i) {
    Result<std::string> value = ReadField(text, at, names[i]);
    if (!value) return value.error();
    values[i] = std::move(*value);
  }
  if (text.substr(at) != "sum " + Sum(text.substr(0, at)) + "\n")
    return MakeError(ErrorKind::kMalformed, "rescue file: its checksum does not match", at);
  RescuedRecords rescued;
  rescued.home = values[0];
  rescued.records.params = QorParams{values[1], values[2], values[3], values[4]};
  rescued.records.s = std::move(values[5]);
  rescued.records.l = std::move(values[6]);
  return rescued;
}

std::filesystem::path RescueFolder(const std::filesystem::path& stateFolder) {
  return stateFolder / "rescue";
}

Result<std::filesystem::path> WriteRescue(const std::filesystem::path& stateFolder,
                                          const RescuedRecords& rescued, FileIo& io) {
  const std::filesystem::path folder = RescueFolder(stateFolder);
  if (Result<void> made = MakePrivateFolders(folder, io); !made) return made.error();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = HomeKey(rescued.home) + "-" + stamp + "-" + std::to_string(::getpid());
  FileWrite how;
  how.existing = Existing::kKeep;
  how.mode = 0600;
  const std::string text = RescueText(rescued);
  for (int attempt = 0;; ++attempt) {
    const std::filesystem::path file =
        folder / (base + (attempt == 0 ? "" : "-" + std::to_string(attempt)) + ".rescue");
    Result<void> written = WriteFileAtomic(file, text, how, io);
    if (written) return file;
    if (written.error().systemError != EEXIST || attempt >= 99) return written.error();
  }
}

std::vector<std::filesystem::path> RescuesOf(const std::filesystem::path& stateFolder,
                                             const std::filesystem::path& home) {
  const std::string prefix = HomeKey(home) + "-";
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(RescueFolder(stateFolder), error), end;
       !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.starts_with(prefix) && name.ends_with(".rescue")) found.push_back(entry->path());
  }
  // The stamp in the name orders them by time.
  std::sort(found.begin(), found.end());
  return found;
}

std::string RecordsAsBase64Lines(std::string_view sText) {
  std::vector<std::pair<std::size_t, std::string>> lines;
  CollectElements(sText, "Request>", "request", lines);
  CollectElements(sText, "Response>", "answer", lines);
  CollectElements(sText, "Refused>", "refused", lines);
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const auto& [at, line] : lines)
    text += line;
  return text;
}

}  // namespace kasse
