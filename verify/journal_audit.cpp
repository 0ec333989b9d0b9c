#include "verify/journal_audit.h"

#include <algorithm>
#include <map>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "common/payload_filter.h"
#include "verify/journal_scan.h"
#include "verify/receipt_payload.h"
#include "verify/signature_check.h"

namespace kasse {

struct JournalAuditor::Record {
  bool transaction = true;
  std::size_t offset = 0, number = 0;
  std::string tpId;
  std::uint64_t tpIdNo = 0, seqNo = 0;
  Bytes signature;
  bool answered = false;
};

namespace {

std::string Text(ByteSpan bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::uint64_t Unsigned(ByteSpan bytes) {
  std::uint64_t value = 0;
  for (Byte b : bytes.first(std::min<std::size_t>(bytes.size(), 8)))
    value = value << 8 | b;
  return value;
}

// Tag-length-value elements up to the end, or nothing when one runs past it.
std::optional<std::vector<std::pair<std::size_t, ByteSpan>>> Elements(ByteSpan data) {
  std::vector<std::pair<std::size_t, ByteSpan>> elements;
  for (std::size_t at = 0; at < data.size();) {
    if (at + 2 > data.size() || at + 2 + data[at + 1] > data.size()) return std::nullopt;
    elements.emplace_back(at, data.subspan(at + 2, data[at + 1]));
    at += 2 + data[at + 1];
  }
  return elements;
}

std::optional<Bytes> Base64Child(std::string_view body, std::string_view name) {
  auto text = ChildText(body, name);
  if (!text) return std::nullopt;
  return Base64Decode(*text);
}

struct Checked {
  std::optional<JournalAuditor::Record> record;
  std::string problem;
};

// Decodes an S record and checks its signature; `problem` says what is wrong.
Checked CheckRecord(const ScannedRecord& scanned, ByteSpan certificate) {
  Checked checked;
  JournalAuditor::Record record;
  record.transaction = scanned.name == "transactionEncoded";
  record.offset = scanned.offset;
  const std::string_view prefix = record.transaction ? "transaction" : "report";
  auto request = Base64Child(scanned.body, std::string(prefix) + "Request");
  auto response = Base64Child(scanned.body, std::string(prefix) + "Response");
  if (!ChildText(scanned.body, std::string(prefix) + "Request")) {
    checked.record = record;  // a failed exchange: nothing was sent
    return checked;
  }
  if (!request) return {std::nullopt, "request is not Base64"};
  if (!ChildText(scanned.body, std::string(prefix) + "Response")) {
    checked.record = record;
    return checked;
  }
  if (!response) return {std::nullopt, "response is not Base64"};
  record.answered = true;
  Bytes message = *request;
  Bytes signature;
  if (record.transaction) {
    message.insert(message.end(), response->begin(), response->end());
    FilterPayload(message);
    auto receipt = DecodeReceiptPayload(message);
    if (!receipt) return {std::nullopt, "undecodable: " + receipt.error().message};
    record.tpId = receipt->tpId;
    record.tpIdNo = receipt->tpIdNo;
    record.seqNo = receipt->seqNo;
    signature = receipt->signature;
    message = receipt->signedMessage;
  } else {
    auto elements = Elements(*response);
    if (!elements || elements->size() < 4) return {std::nullopt, "undecodable report answer"};
    record.tpId = Text((*elements)[1].second);
    record.tpIdNo = Unsigned((*elements)[2].second);
    record.seqNo = Unsigned((*elements)[3].second);
    for (const auto& [at, value] : *elements) {
      if ((*response)[at] != 0x9E) continue;
      signature.assign(value.begin(), value.end());
      message.insert(message.end(), response->begin(),
                     response->begin() + static_cast<std::ptrdiff_t>(at));
      break;
    }
  }
  record.signature = signature;
  checked.record = record;
  if (signature.empty()) return checked;  // an unsigned daily closing
  if (certificate.empty()) {
    checked.problem = "no certificate in the parameter block; signature not checked";
    return checked;
  }
  auto valid = CheckCardSignature(certificate, message, signature);
  if (!valid) {
    checked.problem = "signature unusable: " + valid.error().message;
  } else if (!*valid) {
    checked.problem = "signature does not match the signed data";
  }
  return checked;
}

// The L record's field for a name; in a transaction only after the item list, whose product
// names are written unescaped.
std::string LField(const ScannedRecord& l, std::string_view name) {
  std::size_t from = 0;
  if (const std::size_t hash = l.body.find("</hashTransactionItems>"); hash != l.body.npos) {
    from = hash;
  }
  auto text = ChildText(l.body, name, from);
  return text ? std::string(*text) : std::string("(missing)");
}

std::vector<std::string> Mismatches(const JournalAuditor::Record& s, const ScannedRecord& l) {
  std::vector<std::string> fields;
  if (!s.answered) {
    if (ChildText(l.body, "sig")) fields.push_back("sig (the S record has no answer)");
    return fields;
  }
  const auto compare = [&](std::string_view name, const std::string& expected) {
    const std::string found = LField(l, name);
    if (found != expected) {
      fields.push_back(std::string(name) + " \"" + found + "\" instead of \"" + expected + "\"");
    }
  };
  compare("tpId", s.tpId);
  compare("tpIdNo", std::to_string(s.tpIdNo));
  compare(s.transaction ? "seqNoTransaction" : "seqNoReport", std::to_string(s.seqNo));
  if (!s.signature.empty()) compare("sig", HexCompact(s.signature));
  return fields;
}

std::string Kind(bool transaction) {
  return transaction ? "transaction" : "report";
}

}  // namespace

JournalAuditor::Numbers& JournalAuditor::NumbersOf(const std::string& card) {
  for (Numbers& numbers : numbers_) {
    if (numbers.card == card) return numbers;
  }
  numbers_.push_back(Numbers{card, std::nullopt, std::nullopt});
  return numbers_.back();
}

void JournalAuditor::CheckSequence(const Record& record, std::string_view sName) {
  const std::string card = record.tpId + " " + std::to_string(record.tpIdNo);
  std::optional<std::uint64_t>& last =
      record.transaction ? NumbersOf(card).lastTransaction : NumbersOf(card).lastReport;
  const auto add = [&](std::string text) {
    report_.findings.push_back({std::string(sName), record.offset, record.number,
                                Kind(record.transaction) + " " + std::to_string(record.seqNo) +
                                    " of card " + card + ": " + std::move(text)});
  };
  if (last && record.seqNo <= *last) {
    add(record.seqNo == *last
            ? "sequence number repeated"
            : "sequence number lower than the one before (" + std::to_string(*last) + ")");
    return;  // keep the higher number as the reference
  }
  if (last && record.seqNo > *last + 1) {
    const std::uint64_t first = *last + 1, gapEnd = record.seqNo - 1;
    add("gap: " +
        (first == gapEnd ? std::to_string(first)
                         : std::to_string(first) + " to " + std::to_string(gapEnd)) +
        " missing; the journal holds " + std::to_string(unansweredRequests_) +
        " request(s) without an answer so far");
  }
  last = record.seqNo;
}

namespace {

void CheckFrame(const ScannedJournal& scanned, std::string_view name, std::size_t size,
                std::vector<AuditFinding>& findings) {
  if (scanned.closed) return;
  if (scanned.junkAt != 0) {
    findings.push_back({std::string(name), scanned.junkAt, 0,
                        "not a record here; read up to the last complete record"});
  } else if (!scanned.records.empty() && !scanned.records.back().complete) {
    findings.push_back({std::string(name), scanned.records.back().offset, scanned.records.size(),
                        "record cut off; read up to the last complete record"});
  } else {
    findings.push_back({std::string(name), size, 0,
                        "no closing tag (the run ended abnormally); read up to the last "
                        "complete record"});
  }
}

std::vector<const ScannedRecord*> OfKinds(const ScannedJournal& scanned, std::string_view a,
                                          std::string_view b, std::string_view name,
                                          std::vector<AuditFinding>& findings) {
  std::vector<const ScannedRecord*> kept;
  for (std::size_t i = 0; i < scanned.records.size(); ++i) {
    const ScannedRecord& record = scanned.records[i];
    if (!record.complete) continue;
    if (record.name == a || record.name == b) {
      kept.push_back(&record);
    } else {
      findings.push_back({std::string(name), record.offset, i + 1,
                          "element " + std::string(record.name) + " does not belong here"});
    }
  }
  return kept;
}

}  // namespace

void JournalAuditor::AuditRecord(const SPlace& s, const LPlace& l, ByteSpan certificate) {
  Checked checked = CheckRecord(s.record, certificate);
  const bool transaction = s.record.name == "transactionEncoded";
  (transaction ? report_.transactions : report_.reports)++;
  const auto add = [&](std::string text) {
    report_.findings.push_back({std::string(s.file), s.record.offset, s.number,
                                Kind(transaction) + ": " + std::move(text)});
  };
  if (!checked.record) {
    add(checked.problem);
    return;
  }
  Record& record = *checked.record;
  record.number = s.number;
  if (!checked.problem.empty()) {
    add(checked.problem);
  } else if (!record.signature.empty()) {
    report_.signaturesChecked++;
  }
  if (record.answered) {
    // An unsigned daily closing shows the card's last report number without taking a new one.
    if (transaction || !record.signature.empty()) CheckSequence(record, s.file);
  } else if (ChildText(s.record.body, Kind(transaction) + "Request")) {
    ++unansweredRequests_;
    add("request without an answer");
  }
  if (l.record == nullptr) {
    add("no matching " + Kind(transaction) + " record in the L file");
    return;
  }
  for (const std::string& field : Mismatches(record, *l.record)) {
    report_.findings.push_back(
        {std::string(l.file), l.record->offset, l.number,
         Kind(transaction) + " " + std::to_string(record.seqNo) + ": L field " + field});
  }
}

void JournalAuditor::AuditPair(std::string_view sName, std::string_view sText,
                               std::string_view lName, std::string_view lText) {
  const ScannedJournal s = ScanJournal(sText), l = ScanJournal(lText);
  if (!s.header || !l.header) {
    report_.unusable.push_back(std::string(s.header ? lName : sName) +
                               ": not a journal (no journal header)");
    return;
  }
  auto& findings = report_.findings;
  CheckFrame(s, sName, sText.size(), findings);
  CheckFrame(l, lName, lText.size(), findings);
  if (s.params.empty()) findings.push_back({std::string(sName), 0, 0, "no parameter block"});
  if (s.params != l.params) {
    findings.push_back({std::string(lName), 0, 0, "parameter block differs from the S file's"});
  }
  std::optional<Bytes> certificate;
  if (!s.params.empty()) {
    if (auto text = ChildText(s.params.front(), "certificate")) certificate = Base64Decode(*text);
  }
  const auto sRecords = OfKinds(s, "transactionEncoded", "reportEncoded", sName, findings);
  const auto lRecords = OfKinds(l, "transaction", "report", lName, findings);
  std::size_t lNext[2] = {0, 0};
  std::vector<const ScannedRecord*> lByKind[2];
  for (const ScannedRecord* r : lRecords)
    lByKind[r->name == "transaction" ? 0 : 1].push_back(r);
  for (const ScannedRecord* sRecord : sRecords) {
    const bool transaction = sRecord->name == "transactionEncoded";
    std::size_t& next = lNext[transaction ? 0 : 1];
    const auto& candidates = lByKind[transaction ? 0 : 1];
    const ScannedRecord* lRecord = next < candidates.size() ? candidates[next++] : nullptr;
    AuditRecord(
        {sName, *sRecord, static_cast<std::size_t>(sRecord - s.records.data()) + 1},
        {lName, lRecord, lRecord ? static_cast<std::size_t>(lRecord - l.records.data()) + 1 : 0},
        certificate ? ByteSpan(*certificate) : ByteSpan());
  }
  // A crash may cut the last record after its request was written whole: the card may have
  // answered it, so it counts for the gaps that follow.
  if (!s.records.empty() && !s.records.back().complete) {
    const ScannedRecord& cut = s.records.back();
    const bool transaction = cut.name == "transactionEncoded";
    if ((transaction || cut.name == "reportEncoded") &&
        ChildText(cut.body, Kind(transaction) + "Request") &&
        !ChildText(cut.body, Kind(transaction) + "Response")) {
      ++unansweredRequests_;
      findings.push_back({std::string(sName), cut.offset, s.records.size(),
                          Kind(transaction) + ": request without an answer (record cut off)"});
    }
  }
  for (int kind = 0; kind < 2; ++kind) {
    for (std::size_t i = lNext[kind]; i < lByKind[kind].size(); ++i) {
      const ScannedRecord* r = lByKind[kind][i];
      findings.push_back({std::string(lName), r->offset,
                          static_cast<std::size_t>(r - l.records.data()) + 1,
                          Kind(kind == 0) + " without a matching S record"});
    }
  }
}

}  // namespace kasse
