#include "sim/card_state.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "common/hex_text.h"
#include "common/sha.h"

namespace kasse::sim {
namespace {

constexpr std::string_view kOldHeader = "qor-sim-state 1";        // keys inside the file
constexpr std::string_view kUncheckedHeader = "qor-sim-state 2";  // no checksum line
constexpr std::string_view kHeader = "qor-sim-state 3";
// The last line of a snapshot of the current format: SHA-256 over everything before it.
constexpr std::string_view kChecksumKey = "checksum ";

std::string HexOrDash(ByteSpan bytes) {
  return bytes.empty() ? "-" : HexCompact(bytes);
}

bool ReadHex(std::istream& in, Bytes& out) {
  std::string text;
  if (!(in >> text)) return false;
  if (text == "-") {
    out.clear();
    return true;
  }
  out = HexParse(text);
  return out.size() * 2 == text.size();
}

void WriteTotals(std::ostream& out, const std::string& scope, const Totals& totals) {
  for (std::size_t c = 0; c < totals.vat.size(); ++c) {
    const ContainerTotal& t = totals.vat[c];
    if (!t.used) continue;
    out << "vat " << scope << ' ' << c + 1 << ' ' << t.turnover << ' ' << t.turnoverNeg << ' '
        << HexOrDash(t.rate) << ' ' << t.overflow << ' ' << t.vatChange << '\n';
  }
  const auto count = [&](const char* name, const CountTotal& t) {
    if (t.count == 0) return;
    out << "count " << scope << ' ' << name << ' ' << t.turnover << ' ' << t.count << ' '
        << t.overflow << '\n';
  };
  count("agency", totals.agency);
  count("delivery", totals.delivery);
}

Totals* ScopeTotals(CardState& state, const std::string& scope) {
  if (scope == "day") return &state.day;
  int month = 0;
  std::istringstream in(scope);
  if (!(in >> month) || month < 100000 || month > 999912) return nullptr;
  return &state.months[month];
}

bool ReadVatLine(std::istream& in, CardState& state) {
  std::string scope;
  std::size_t c = 0;
  if (!(in >> scope >> c) || c < 1 || c > 6) return false;
  Totals* totals = ScopeTotals(state, scope);
  if (!totals) return false;
  ContainerTotal& t = totals->vat[c - 1];
  t.used = true;
  return static_cast<bool>(in >> t.turnover >> t.turnoverNeg) && ReadHex(in, t.rate) &&
         static_cast<bool>(in >> t.overflow >> t.vatChange);
}

bool ReadCountLine(std::istream& in, CardState& state) {
  std::string scope, name;
  if (!(in >> scope >> name)) return false;
  CountTotal* t = nullptr;
  if (scope == "training" && name == "all") {
    t = &state.training;
  } else if (Totals* totals = ScopeTotals(state, scope)) {
    if (name == "agency") t = &totals->agency;
    if (name == "delivery") t = &totals->delivery;
  }
  return t && static_cast<bool>(in >> t->turnover >> t->count >> t->overflow);
}

bool ReadMonthLine(std::istream& in, CardState& state) {
  std::string scope;
  if (!(in >> scope)) return false;
  Totals* totals = ScopeTotals(state, scope);
  if (totals) *totals = Totals{};
  return totals != nullptr;
}

bool ReadLine(const std::string& key, std::istream& in, CardState& s) {
  int lifecycle = 0;
  if (key == "lifecycle") {
    if (!(in >> lifecycle) || lifecycle < 1 || lifecycle > 4) return false;
    s.lifecycle = static_cast<Byte>(lifecycle);
    return true;
  }
  if (key == "tpId") return static_cast<bool>(in >> s.tpId);
  if (key == "tpIdNo") return static_cast<bool>(in >> s.tpIdNo);
  if (key == "pin") return static_cast<bool>(in >> s.transportPin >> s.pinTriesLeft);
  if (key == "seq") return static_cast<bool>(in >> s.transactionSeq >> s.reportSeq);
  if (key == "firstMonth") return static_cast<bool>(in >> s.firstMonth);
  if (key == "daySeq") return static_cast<bool>(in >> s.dayFirstSeq >> s.dayLastSeq);
  if (key == "month") return ReadMonthLine(in, s);
  if (key == "vat") return ReadVatLine(in, s);
  if (key == "count") return ReadCountLine(in, s);
  return false;
}

bool ReadKeyLine(const std::string& key, std::istream& in, CardKeys& keys) {
  if (key == "key") return ReadHex(in, keys.privateKey);
  if (key == "cert") return ReadHex(in, keys.certificate);
  if (key == "caCert") return ReadHex(in, keys.caCertificate);
  return false;
}

// Lifecycle, PIN and counters: what every record and snapshot holds.
void WriteCounters(std::ostream& out, const CardState& s) {
  out << "lifecycle " << int{s.lifecycle} << '\n'
      << "pin " << s.transportPin << ' ' << s.pinTriesLeft << '\n'
      << "seq " << s.transactionSeq << ' ' << s.reportSeq << '\n'
      << "firstMonth " << s.firstMonth << '\n'
      << "daySeq " << s.dayFirstSeq << ' ' << s.dayLastSeq << '\n';
}

void WriteDay(std::ostream& out, const CardState& s) {
  WriteTotals(out, "day", s.day);
  if (s.training.count > 0) {
    out << "count training all " << s.training.turnover << ' ' << s.training.count << ' '
        << s.training.overflow << '\n';
  }
}

void WriteMonth(std::ostream& out, int month, const Totals& totals) {
  out << "month " << month << '\n';
  WriteTotals(out, std::to_string(month), totals);
}

// Reads lines until "end" (or the text's end when `needsEnd` is false); errors carry the byte
// offset of the line, counted from `base`.
Result<void> ReadLines(std::string_view text, std::size_t base, CardState& state, CardKeys* keys,
                       bool needsEnd) {
  bool ended = false;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t lineEnd = std::min(text.find('\n', at), text.size());
    std::istringstream in(std::string(text.substr(at, lineEnd - at)));
    const std::size_t offset = base + at;
    at = lineEnd + 1;
    std::string key;
    if (!(in >> key)) continue;
    if (ended) return MakeError(ErrorKind::kMalformed, "text after the end", offset);
    if (key == "end" && needsEnd) {
      ended = true;
      continue;
    }
    const bool read = ReadLine(key, in, state) || (keys && ReadKeyLine(key, in, *keys));
    if (!read) return MakeError(ErrorKind::kMalformed, "bad card state line", offset);
  }
  // A file without its last line was cut short; its counters cannot be trusted.
  if (needsEnd && !ended) {
    return MakeError(ErrorKind::kMalformed, "card state file incomplete", base + text.size());
  }
  return {};
}

std::string ChecksumLine(std::string_view covered) {
  const Sha256Digest digest =
      Sha256(ByteSpan(reinterpret_cast<const Byte*>(covered.data()), covered.size()));
  return std::string(kChecksumKey) + HexCompact(digest) + "\n";
}

// The text before the checksum line, once the line proves it whole and unchanged.
Result<std::string_view> CheckedBody(std::string_view text) {
  if (text.empty() || text.back() != '\n') {
    return MakeError(ErrorKind::kMalformed, "the snapshot was cut short (no checksum line)",
                     text.size());
  }
  const std::size_t previous = text.rfind('\n', text.size() - 2);
  const std::size_t line = previous == std::string_view::npos ? 0 : previous + 1;
  const std::string_view body = text.substr(0, line);
  if (text.substr(line, kChecksumKey.size()) != kChecksumKey) {
    return MakeError(ErrorKind::kMalformed, "the snapshot was cut short (no checksum line)", line);
  }
  if (text.substr(line) != ChecksumLine(body)) {
    return MakeError(ErrorKind::kMalformed, "the snapshot fails its checksum", line);
  }
  return body;
}

}  // namespace

std::string SerializeState(const CardState& s) {
  std::ostringstream out;
  out << kHeader << '\n' << "tpId " << s.tpId << '\n' << "tpIdNo " << s.tpIdNo << '\n';
  WriteCounters(out, s);
  WriteDay(out, s);
  for (const auto& [month, totals] : s.months)
    WriteMonth(out, month, totals);
  out << "end\n";
  std::string text = out.str();
  text += ChecksumLine(text);
  return text;
}

Result<StateFile> ParseState(const std::string& text) {
  const std::size_t headerEnd = std::min(text.find('\n'), text.size());
  const std::string_view header = std::string_view(text).substr(0, headerEnd);
  if (header != kHeader && header != kUncheckedHeader && header != kOldHeader) {
    return MakeError(ErrorKind::kMalformed, "not a card state file");
  }
  std::string_view body = text;
  if (header == kHeader) {
    auto checked = CheckedBody(text);
    if (!checked) return checked.error();
    body = *checked;
  }
  StateFile file;
  file.format = header == kHeader ? 3 : header == kUncheckedHeader ? 2 : 1;
  CardKeys keys;
  const bool old = header == kOldHeader;
  const std::size_t start = std::min(headerEnd + 1, body.size());
  if (auto read = ReadLines(body.substr(start), start, file.books, old ? &keys : nullptr, true);
      !read) {
    return read.error();
  }
  if (old) {
    if (keys.privateKey.empty() || keys.certificate.empty()) {
      return MakeError(ErrorKind::kMalformed, "card state file incomplete", text.size());
    }
    file.oldFormatKeys = std::move(keys);
  }
  return file;
}

std::string SerializeChange(const CardState& before, const CardState& after) {
  std::ostringstream out;
  WriteCounters(out, after);
  WriteDay(out, after);
  for (const auto& [month, totals] : after.months) {
    const auto was = before.months.find(month);
    if (was == before.months.end() || was->second != totals) WriteMonth(out, month, totals);
  }
  return out.str();
}

Result<void> ApplyChange(const std::string& record, CardState& state) {
  CardState next = state;
  next.day = Totals{};
  next.training = CountTotal{};
  if (auto read = ReadLines(record, 0, next, nullptr, false); !read) return read.error();
  state = std::move(next);
  return {};
}

void AddToTotal(std::int64_t& total, std::int64_t amount, bool& overflow) {
  total += amount;
  if (total > kTotalLimit || total < -kTotalLimit) {
    total %= kTotalLimit + 1;
    overflow = true;
  }
}

}  // namespace kasse::sim
