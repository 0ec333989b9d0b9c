#include "register/sequence_ledger.h"

#include <openssl/x509.h>

#include <algorithm>
#include <functional>

#include "common/amount.h"
#include "common/base_n.h"
#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/sha.h"
#include "journal/journal_scan.h"
#include "journal/journal_stream.h"
#include "protocol/card_answers.h"
#include "register/messages.h"

namespace kasse {
namespace {

// One answer a journal holds: whose, which number, and the request's date.
struct Answered {
  NumberKind kind;
  std::string tpId;
  std::uint64_t tpIdNo = 0;
  std::uint64_t number = 0;
  std::string date;
};

struct PairCard {
  std::string tpId;
  std::uint64_t tpIdNo = 0;
  std::string keyId;
};

std::optional<Bytes> Base64Child(std::string_view body, std::string_view name) {
  const std::optional<std::string_view> text = ChildText(body, name);
  if (!text) return std::nullopt;
  Result<Bytes> bytes = Base64Decode(*text);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

std::string DateOfRequest(const std::optional<Bytes>& request) {
  if (!request || request->size() < 6 || (*request)[0] != tag::kDate || (*request)[1] != 4)
    return {};
  return HexCompact(ByteSpan(*request).subspan(2, 4));
}

// The answer of a record the card signed (a refusal, a rejected answer or a request without
// an answer gives nothing).
std::optional<Answered> ReadAnswered(std::string_view name, std::string_view body) {
  const bool transaction = name.starts_with("transaction");
  const std::optional<Bytes> answer =
      Base64Child(body, transaction ? "transactionResponse" : "reportResponse");
  if (!answer) return std::nullopt;
  const std::string date =
      DateOfRequest(Base64Child(body, transaction ? "transactionRequest" : "reportRequest"));
  if (!transaction) {
    const std::optional<ReportNumber> report = ReadReportNumber(*answer);
    if (!report) return std::nullopt;
    return Answered{NumberKind::kReport, report->tpId, report->tpIdNo, report->number, date};
  }
  const Result<TransactionAnswer> read = ReadTransactionAnswer(*answer);
  if (!read) return std::nullopt;
  return Answered{NumberKind::kTransaction, read->tpId, read->tpIdNo, read->seqNo, date};
}

PairCard ReadParams(std::string_view body) {
  PairCard card;
  card.tpId = XmlUnescaped(ChildText(body, "tpId").value_or(""));
  const Result<std::int64_t> number =
      ParseInteger(XmlUnescaped(ChildText(body, "tpIdNo").value_or("")));
  card.tpIdNo = number && *number >= 0 ? static_cast<std::uint64_t>(*number) : 0;
  if (const std::optional<Bytes> certificate = Base64Child(body, "certificate"))
    card.keyId = CardKeyId(*certificate);
  return card;
}

// Every signed answer in an S file, with the key of the pair's card when the answer names it.
Result<void> WalkAnswers(const std::filesystem::path& file,
                         const std::function<void(const Answered&, const std::string&)>& each) {
  Result<JournalStream> stream = JournalStream::OpenFile(file);
  if (!stream) return stream.error();
  if (stream->Begin() != JournalStream::Start::kJournal) return {};
  PairCard pair;
  bool first = true;
  while (std::optional<JournalElement> element = stream->Next()) {
    if (element->name == "qorParams") {
      // The pair keeps the block of the card it was made with.
      if (first && element->complete) pair = ReadParams(element->body);
      first = false;
      continue;
    }
    if (element->name == "transaction" || element->name == "report") continue;
    const std::optional<Answered> answered = ReadAnswered(element->name, element->body);
    if (!answered) continue;
    const bool ours = answered->tpId == pair.tpId && answered->tpIdNo == pair.tpIdNo;
    each(*answered, ours ? pair.keyId : std::string());
  }
  return {};
}

std::vector<std::filesystem::path> SFiles(const std::filesystem::path& home) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(home / "Journal", error), end;
       !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.ends_with("S.xml") && entry->is_regular_file(error)) files.push_back(entry->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return "an unknown date";
  return yyyymmdd.substr(0, 4) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(6, 2);
}

}  // namespace

std::string CardKeyId(ByteSpan certificateFile) {
  const unsigned char* at = certificateFile.data();
  X509* certificate = d2i_X509(nullptr, &at, static_cast<long>(certificateFile.size()));
  if (certificate == nullptr) return {};
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  X509_free(certificate);
  if (length <= 0) return {};
  const Sha256Digest digest = Sha256(ByteSpan(der, static_cast<std::size_t>(length)));
  OPENSSL_free(der);
  return HexCompact(ByteSpan(digest.data(), 8));
}

void SequenceLedger::ReadJournals(std::vector<Error>& warnings) {
  transactions_.clear();
  reports_.clear();
  for (const std::filesystem::path& file : SFiles(home_)) {
    Result<void> walked = WalkAnswers(file, [&](const Answered& answered, const std::string& key) {
      Note(answered.kind, {answered.tpId, answered.tpIdNo, key}, answered.number, answered.date,
           file);
    });
    if (!walked) warnings.push_back(walked.error());
  }
}

void SequenceLedger::SetCard(const std::string& tpId, std::uint64_t tpIdNo,
                             const std::string& keyId, std::vector<Error>& warnings) {
  currentKey_ = keyId;
  if (keyId.empty()) return;
  bool known = false, ours = false;
  for (const Book* book : {&transactions_, &reports_}) {
    for (const auto& [card, entry] : *book) {
      if (std::get<0>(card) != tpId || std::get<1>(card) != tpIdNo) continue;
      if (std::get<2>(card).empty()) continue;
      known = true;
      ours = ours || std::get<2>(card) == keyId;
    }
  }
  if (known && !ours)
    warnings.push_back(
        MakeError(ErrorKind::kCard, msg::kNewCardKey, {tpId, std::to_string(tpIdNo)}));
}

void SequenceLedger::Note(NumberKind kind, const CardKey& card, std::uint64_t number,
                          std::string_view date, const std::filesystem::path& file) {
  Entry& entry = (kind == NumberKind::kTransaction ? transactions_ : reports_)[card];
  if (number <= entry.last) return;
  entry.last = number;
  entry.date = std::string(date);
  entry.file = file;
}

const SequenceLedger::Entry* SequenceLedger::Find(NumberKind kind, std::string_view tpId,
                                                  std::uint64_t tpIdNo) const {
  const Book& book = kind == NumberKind::kTransaction ? transactions_ : reports_;
  // Records whose pair named another card count for every card of their name: the register
  // cannot tell which key signed them, and a number twice is worse than one refused.
  const Entry* found = nullptr;
  for (const std::string& key : {currentKey_, std::string()}) {
    const auto it = book.find({std::string(tpId), tpIdNo, key});
    if (it != book.end() && (found == nullptr || it->second.last > found->last))
      found = &it->second;
    if (currentKey_.empty()) break;
  }
  return found;
}

std::uint64_t SequenceLedger::Last(NumberKind kind) const {
  const Book& book = kind == NumberKind::kTransaction ? transactions_ : reports_;
  std::uint64_t last = 0;
  for (const auto& [card, entry] : book)
    if (std::get<2>(card) == currentKey_) last = std::max(last, entry.last);
  return last;
}

Result<void> SequenceLedger::Check(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                                   std::uint64_t number) const {
  const Entry* entry = Find(kind, tpId, tpIdNo);
  if (entry == nullptr || number > entry->last) return {};
  const std::string shown = std::to_string(number);
  const auto where = [](const std::filesystem::path& file) {
    return file.empty() ? std::string("this run") : file.string();
  };
  if (const std::optional<Place> place = PlaceOf(kind, tpId, tpIdNo, number))
    return MakeError(ErrorKind::kCard, msg::kNumberRepeated,
                     {shown, ShownDate(place->date), where(place->file)});
  return MakeError(
      ErrorKind::kCard, msg::kNumberNotAbove,
      {shown, std::to_string(entry->last), ShownDate(entry->date), where(entry->file)});
}

void SequenceLedger::Journalled(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                                std::uint64_t number, std::string_view date) {
  Note(kind, {std::string(tpId), tpIdNo, currentKey_}, number, date, {});
}

std::optional<SequenceLedger::Place> SequenceLedger::PlaceOf(NumberKind kind, std::string_view tpId,
                                                             std::uint64_t tpIdNo,
                                                             std::uint64_t number) const {
  std::optional<Place> found;
  for (const std::filesystem::path& file : SFiles(home_)) {
    (void)WalkAnswers(file, [&](const Answered& answered, const std::string&) {
      if (!found && answered.kind == kind && answered.tpId == tpId && answered.tpIdNo == tpIdNo &&
          answered.number == number)
        found = Place{answered.date, file};
    });
    if (found) break;
  }
  return found;
}

}  // namespace kasse
