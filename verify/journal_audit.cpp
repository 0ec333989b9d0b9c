#include "verify/journal_audit.h"

#include <openssl/evp.h>

#include <algorithm>
#include <initializer_list>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "verify/card_certificate.h"
#include "verify/journal_record.h"
#include "verify/journal_scan.h"
#include "verify/sequence_book.h"
#include "verify/trust_store.h"

namespace kasse {

namespace {

// The L record's field for a name; in a transaction only after the item list, whose product
// names are written unescaped.
std::string LField(const ScannedRecord& l, std::string_view name) {
  std::size_t from = 0;
  if (const std::size_t hash = l.body.find("</hashTransactionItems>"); hash != l.body.npos) {
    from = hash;
  }
  auto text = ChildText(l.body, name, from);
  return text ? XmlUnescaped(*text) : std::string("(missing)");
}

std::vector<std::string> Mismatches(const AuditedRecord& s, const ScannedRecord& l) {
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

// The request of a record cut off after it; nothing when it cannot be read.
Bytes RequestOf(std::string_view body, const std::string& kind) {
  auto request = Base64Child(body, kind + "Request");
  return request ? std::move(*request) : Bytes();
}

std::string Kind(bool transaction) {
  return transaction ? "transaction" : "report";
}

}  // namespace

JournalAuditor::JournalAuditor(std::shared_ptr<const TrustStore> trust)
    : book_(std::make_unique<SequenceBook>()), trust_(std::move(trust)) {
  report_.issuersChecked = trust_ && !trust_->Empty();
}
JournalAuditor::~JournalAuditor() = default;

std::size_t JournalAuditor::Add(AuditFinding finding) {
  report_.findings.push_back(std::move(finding));
  dropped_.push_back(false);
  gapOf_.push_back(std::nullopt);
  return report_.findings.size() - 1;
}

void JournalAuditor::Unanswered(AuditFinding finding, bool transaction, Bytes request) {
  ++unansweredRequests_;
  pending_.push_back({Add(std::move(finding)), transaction, std::move(request)});
}

void JournalAuditor::Sequence(const AuditedRecord& record, std::string_view sName, bool late) {
  const std::string card = record.tpId + " " + std::to_string(record.tpIdNo);
  const SequenceBook::Problem problem =
      late ? book_->RecordLate(card, record.transaction, record.seqNo, unansweredRequests_)
           : book_->Record(card, record.transaction, record.seqNo, unansweredRequests_);
  if (problem.text.empty()) return;
  const std::size_t finding = Add({std::string(sName), record.offset, record.number, problem.text});
  gapOf_[finding] = problem.gap;
}

AuditReport JournalAuditor::Report() const {
  AuditReport report = report_;
  report.findings.clear();
  for (std::size_t i = 0; i < report_.findings.size(); ++i) {
    if (dropped_[i]) continue;
    AuditFinding finding = report_.findings[i];
    if (gapOf_[i]) {
      auto text = book_->GapText(*gapOf_[i]);
      if (!text) continue;  // every number of it was answered late
      finding.text = *text;
    }
    report.findings.push_back(std::move(finding));
  }
  // A card is vouched for when one of its certificates comes from a trusted issuer; an older
  // certificate of the same key (from before a re-certification) then needs no issuer.
  for (std::size_t i = 0; i < certificates_.size(); ++i) {
    const CardCertificateSeen& first = certificates_[i];
    const auto sameCard = [&](const CardCertificateSeen& c) { return c.card == first.card; };
    if (std::find_if(certificates_.begin(), certificates_.end(), sameCard) !=
        certificates_.begin() + static_cast<std::ptrdiff_t>(i)) {
      continue;  // the card was judged at its first certificate
    }
    const bool vouched =
        std::any_of(certificates_.begin(), certificates_.end(),
                    [&](const auto& c) { return sameCard(c) && c.chainProblem.empty(); });
    if (!vouched)
      report.findings.push_back(
          {first.file, 0, 0, "card " + first.card + ": " + first.chainProblem});
  }
  return report;
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

// The complete records named in `kinds`; `ignored` ones are skipped without a finding, any
// other is one.
std::vector<const ScannedRecord*> OfKinds(const ScannedJournal& scanned,
                                          std::initializer_list<std::string_view> kinds,
                                          std::initializer_list<std::string_view> ignored,
                                          std::string_view name,
                                          std::vector<AuditFinding>& findings) {
  const auto in = [](std::initializer_list<std::string_view> list, std::string_view what) {
    return std::find(list.begin(), list.end(), what) != list.end();
  };
  std::vector<const ScannedRecord*> kept;
  for (std::size_t i = 0; i < scanned.records.size(); ++i) {
    const ScannedRecord& record = scanned.records[i];
    if (!record.complete || in(ignored, record.name)) continue;
    if (in(kinds, record.name)) {
      kept.push_back(&record);
    } else {
      findings.push_back({std::string(name), record.offset, i + 1,
                          "element " + std::string(record.name) + " does not belong here"});
    }
  }
  return kept;
}

}  // namespace

void JournalAuditor::AuditRecord(const SPlace& s, const LPlace& l,
                                 const ParsedCertificate* certificate) {
  Checked checked = CheckRecord(s.record, certificate);
  const bool transaction = s.record.name == "transactionEncoded";
  (transaction ? report_.transactions : report_.reports)++;
  const auto finding = [&](std::string text) {
    return AuditFinding{std::string(s.file), s.record.offset, s.number,
                        Kind(transaction) + ": " + std::move(text)};
  };
  if (!checked.record) {
    Add(finding(checked.problem));
    return;
  }
  AuditedRecord& record = *checked.record;
  record.number = s.number;
  if (!checked.problem.empty()) {
    Add(finding(checked.problem));
  } else if (!record.signature.empty()) {
    report_.signaturesChecked++;
  }
  if (record.refused) {
    report_.refusals++;  // nothing was signed, no number used
  } else if (record.answered) {
    // An unsigned daily closing shows the card's last report number without taking a new one.
    if (transaction || !record.signature.empty()) Sequence(record, s.file, false);
  } else if (ChildText(s.record.body, Kind(transaction) + "Request")) {
    Unanswered(finding("request without an answer"), transaction, record.request);
  }
  if (l.record == nullptr) {
    Add(finding("no matching " + Kind(transaction) + " record in the L file"));
    return;
  }
  for (const std::string& field : Mismatches(record, *l.record)) {
    Add({std::string(l.file), l.record->offset, l.number,
         Kind(transaction) + " " + std::to_string(record.seqNo) + ": L field " + field});
  }
}

void JournalAuditor::AuditLate(const SPlace& s, const ParsedCertificate* certificate) {
  Checked checked = CheckRecord(s.record, certificate);
  const bool transaction = s.record.name == "transactionLate";
  const auto add = [&](std::string text) {
    Add({std::string(s.file), s.record.offset, s.number,
         "late " + Kind(transaction) + " answer: " + std::move(text)});
  };
  if (!checked.record || !checked.record->answered) {
    add(checked.record ? "no answer in it" : checked.problem);
    return;
  }
  report_.lateAnswers++;
  AuditedRecord& record = *checked.record;
  record.number = s.number;
  if (!checked.problem.empty()) {
    add(checked.problem);
  } else if (!record.signature.empty()) {
    report_.signaturesChecked++;
  }
  // It answers the latest request of its kind with the same bytes that is still unanswered.
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
    if (it->transaction != transaction || it->request != record.request) continue;
    dropped_[it->finding] = true;
    --unansweredRequests_;
    pending_.erase(std::next(it).base());
    if (transaction || !record.signature.empty()) Sequence(record, s.file, true);
    return;
  }
  add("its request is not in the journal as one without an answer");
  if (transaction || !record.signature.empty()) Sequence(record, s.file, true);
}

void JournalAuditor::CheckParams(const ScannedJournal& s, std::string_view sName) {
  // A card re-certified keeps its key; two keys under one name and number are two cards, or a
  // forgery.
  for (const QorParams& params : ParamsOfBlocks(s.params)) {
    auto der = Base64Decode(params.certificate);
    if (!der) continue;
    auto parsed = ParsedCertificate::FromDer(*der);
    if (!parsed) continue;
    const std::string card = params.tpId + " " + params.tpIdNo;
    bool seenBefore = false;
    for (const CardCertificateSeen& seen : certificates_) {
      if (seen.card != card) continue;
      seenBefore = seenBefore || seen.der == *der;
      auto before = ParsedCertificate::FromDer(seen.der);
      if (!seenBefore && before && EVP_PKEY_eq((*before)->Key(), (*parsed)->Key()) != 1) {
        Add({std::string(sName), 0, 0,
             "card " + card + ": two different certificates with different keys: " +
                 (*parsed)->Subject() + " here, " + seen.subject + " in " + seen.file});
        seenBefore = true;  // one finding a certificate
      }
    }
    if (seenBefore) continue;
    const std::string problem = report_.issuersChecked ? trust_->ChainProblem(**parsed) : "";
    certificates_.push_back({card, std::string(sName), (*parsed)->Subject(), *der, problem});
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
  std::vector<AuditFinding> findings;
  CheckFrame(s, sName, sText.size(), findings);
  CheckFrame(l, lName, lText.size(), findings);
  if (s.params.empty()) findings.push_back({std::string(sName), 0, 0, "no parameter block"});
  if (s.params != l.params) {
    findings.push_back({std::string(lName), 0, 0, "parameter block differs from the S file's"});
  }
  std::shared_ptr<const ParsedCertificate> certificate;
  if (!s.params.empty()) {
    auto text = ChildText(s.params.front(), "certificate");
    if (auto der = text ? Base64Decode(*text) : MakeError(ErrorKind::kMissingInput, "")) {
      if (auto parsed = ParsedCertificate::FromDer(*der)) certificate = *parsed;
    }
  }
  const auto sRecords =
      OfKinds(s, {"transactionEncoded", "reportEncoded", "transactionLate", "reportLate"}, {},
              sName, findings);
  const auto lRecords =
      OfKinds(l, {"transaction", "report"}, {"transactionLate", "reportLate"}, lName, findings);
  for (AuditFinding& finding : findings)
    Add(std::move(finding));
  CheckParams(s, sName);
  const ParsedCertificate* key = certificate.get();
  std::size_t lNext[2] = {0, 0};
  std::vector<const ScannedRecord*> lByKind[2];
  for (const ScannedRecord* r : lRecords)
    lByKind[r->name == "transaction" ? 0 : 1].push_back(r);
  for (const ScannedRecord* sRecord : sRecords) {
    const SPlace place{sName, *sRecord, static_cast<std::size_t>(sRecord - s.records.data()) + 1};
    if (sRecord->name.ends_with("Late")) {
      AuditLate(place, key);
      continue;
    }
    const bool transaction = sRecord->name == "transactionEncoded";
    std::size_t& next = lNext[transaction ? 0 : 1];
    const auto& candidates = lByKind[transaction ? 0 : 1];
    const ScannedRecord* lRecord = next < candidates.size() ? candidates[next++] : nullptr;
    AuditRecord(
        place,
        {lName, lRecord, lRecord ? static_cast<std::size_t>(lRecord - l.records.data()) + 1 : 0},
        key);
  }
  // A crash may cut the last record after its request was written whole: the card may have
  // answered it, so it counts for the gaps that follow.
  if (!s.records.empty() && !s.records.back().complete) {
    const ScannedRecord& cut = s.records.back();
    const bool transaction = cut.name == "transactionEncoded";
    const std::string kind = Kind(transaction);
    if ((transaction || cut.name == "reportEncoded") && ChildText(cut.body, kind + "Request") &&
        !ChildText(cut.body, kind + "Response") && !ChildText(cut.body, kind + "Refused")) {
      Unanswered({std::string(sName), cut.offset, s.records.size(),
                  kind + ": request without an answer (record cut off)"},
                 transaction, RequestOf(cut.body, kind));
    }
  }
  for (int kind = 0; kind < 2; ++kind) {
    for (std::size_t i = lNext[kind]; i < lByKind[kind].size(); ++i) {
      const ScannedRecord* r = lByKind[kind][i];
      Add({std::string(lName), r->offset, static_cast<std::size_t>(r - l.records.data()) + 1,
           Kind(kind == 0) + " without a matching S record"});
    }
  }
}

}  // namespace kasse
