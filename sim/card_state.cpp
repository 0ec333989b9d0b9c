#include "sim/card_state.h"

#include <sstream>

#include "common/hex_text.h"

namespace kasse::sim {
namespace {

constexpr const char* kOldHeader = "qor-sim-state 1";  // keys inside the file
constexpr const char* kHeader = "qor-sim-state 2";

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

// Reads lines until "end" (or the text's end when `needsEnd` is false).
Result<void> ReadLines(std::istream& lines, CardState& state, CardKeys* keys, bool needsEnd,
                       std::size_t number) {
  std::string line;
  bool ended = false;
  while (std::getline(lines, line)) {
    ++number;
    std::istringstream in(line);
    std::string key;
    if (!(in >> key)) continue;
    if (ended) return MakeError(ErrorKind::kMalformed, "text after the end", number);
    if (key == "end" && needsEnd) {
      ended = true;
      continue;
    }
    const bool read = ReadLine(key, in, state) || (keys && ReadKeyLine(key, in, *keys));
    if (!read) return MakeError(ErrorKind::kMalformed, "bad card state line", number);
  }
  // A file without its last line was cut short; its counters cannot be trusted.
  if (needsEnd && !ended) {
    return MakeError(ErrorKind::kMalformed, "card state file incomplete", number);
  }
  return {};
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
  return out.str();
}

Result<StateFile> ParseState(const std::string& text) {
  std::istringstream lines(text);
  std::string header;
  std::getline(lines, header);
  if (header != kHeader && header != kOldHeader) {
    return MakeError(ErrorKind::kMalformed, "not a card state file");
  }
  StateFile file;
  CardKeys keys;
  const bool old = header == kOldHeader;
  if (auto read = ReadLines(lines, file.books, old ? &keys : nullptr, true, 1); !read) {
    return read.error();
  }
  if (old) {
    if (keys.privateKey.empty() || keys.certificate.empty()) {
      return MakeError(ErrorKind::kMalformed, "card state file incomplete");
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
  std::istringstream lines(record);
  if (auto read = ReadLines(lines, next, nullptr, false, 0); !read) return read.error();
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
