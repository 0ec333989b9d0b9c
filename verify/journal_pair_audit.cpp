#include "verify/journal_pair_audit.h"

#include <algorithm>
#include <charconv>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "journal/journal_scan.h"
#include "verify/card_certificate.h"

namespace kasse {
namespace {

std::string Kind(bool transaction) {
  return transaction ? "transaction" : "report";
}

bool IsSRecord(std::string_view name) {
  return name == "transactionEncoded" || name == "reportEncoded" || name == "transactionLate" ||
         name == "reportLate";
}

// The L record's field for a name; in a transaction only after the item list, whose product
// names are written unescaped.
std::string LField(std::string_view body, std::string_view name) {
  std::size_t from = 0;
  if (const std::size_t hash = body.find("</hashTransactionItems>"); hash != body.npos) from = hash;
  auto text = ChildText(body, name, from);
  return text ? XmlUnescaped(*text) : std::string("(missing)");
}

std::shared_ptr<const ParsedCertificate> CertificateOfBlock(std::string_view body) {
  auto text = ChildText(body, "certificate");
  if (!text) return nullptr;
  auto der = Base64Decode(*text);
  if (!der) return nullptr;
  auto parsed = ParsedCertificate::FromDer(*der);
  return parsed ? *parsed : nullptr;
}

}  // namespace

std::string CardOfParams(const QorParams& params) {
  std::uint64_t number = 0;
  const char* end = params.tpIdNo.data() + params.tpIdNo.size();
  const auto read = std::from_chars(params.tpIdNo.data(), end, number);
  const bool numeric = !params.tpIdNo.empty() && read.ec == std::errc() && read.ptr == end;
  return params.tpId + " " + (numeric ? std::to_string(number) : params.tpIdNo);
}

PairAudit::PairAudit(std::size_t index, std::string sName, JournalStream s, std::string lName,
                     std::optional<JournalStream> l, std::string lAbsence)
    : index_(index),
      sName_(std::move(sName)),
      lName_(std::move(lName)),
      s_(std::move(s)),
      l_(std::move(l)),
      lAbsence_(std::move(lAbsence)) {
  if (!lAbsence_.empty()) Add(sName_, 0, 0, lAbsence_, 0);
}

void PairAudit::Add(std::string file, std::size_t offset, std::size_t record, std::string text,
                    std::size_t ordinal) {
  outcome_.findings.push_back({{std::move(file), offset, record, std::move(text)}, ordinal});
}

SequenceSegment& PairAudit::Segment(const std::string& card, bool transaction) {
  for (SequenceSegment& segment : outcome_.segments)
    if (segment.card == card && segment.transaction == transaction) return segment;
  outcome_.segments.push_back({card, transaction, index_, {}, {}});
  return outcome_.segments.back();
}

bool PairAudit::ReadBatch(Batch& batch, std::size_t count) {
  while (batch.elements.size() < count) {
    std::optional<JournalElement> element = s_.Next();
    if (!element) return false;
    if (element->name == "qorParams" && element->complete && !sawParams_) {
      sawParams_ = true;
      key_ = CertificateOfBlock(element->body);
    }
    batch.elements.push_back(std::move(*element));
    batch.certificates.push_back(key_);
  }
  return true;
}

void PairAudit::Check(Batch& batch) {
  batch.checked.resize(batch.elements.size());
  for (std::size_t i = 0; i < batch.elements.size(); ++i) {
    const JournalElement& e = batch.elements[i];
    if (e.complete && IsSRecord(e.name))
      batch.checked[i] = CheckRecord(e.View(), batch.certificates[i].get());
  }
}

void PairAudit::Merge(const Batch& batch) {
  for (std::size_t i = 0; i < batch.elements.size(); ++i) {
    const JournalElement& e = batch.elements[i];
    if (e.name == "qorParams") {
      if (e.complete) Params(e);
      continue;
    }
    ++sRecords_;
    if (!e.complete) {
      sCut_ = e;
    } else if (!batch.checked[i]) {
      AddS(e, "element " + e.name + " does not belong here");
    } else if (e.name.ends_with("Late")) {
      Late(e, *batch.checked[i], batch.certificates[i].get());
    } else {
      Record(e, *batch.checked[i], batch.certificates[i].get());
    }
  }
}

void PairAudit::Params(const JournalElement& e) {
  sParams_.push_back(e.body);
  const QorParams params = ParamsOfBlocks({e.body}).front();
  currentCard_ = CardOfParams(params);
  if (outcome_.certificates.empty()) outcome_.certificateCard = currentCard_;
  if (auto der = Base64Decode(params.certificate))
    outcome_.certificates.emplace_back(currentCard_, std::move(*der));
}

bool PairAudit::Signed(const AuditedRecord& record, const ParsedCertificate* key) {
  if (key == nullptr || key != key_.get()) return false;
  outcome_.validByCard[record.tpId + " " + std::to_string(record.tpIdNo)]++;
  return true;
}

void PairAudit::Unanswered(const JournalElement& e, std::string text, bool transaction,
                           Bytes request, bool cut) {
  AddS(e, std::move(text));
  SequenceEvent event;
  event.kind = SequenceEvent::Kind::kUnanswered;
  event.place = event.lastPlace = Place(e);
  event.request = std::move(request);
  event.finding = outcome_.findings.size() - 1;
  event.cut = cut;
  Segment(currentCard_, transaction).events.push_back(std::move(event));
}

void PairAudit::Record(const JournalElement& e, const Checked& checked,
                       const ParsedCertificate* key) {
  const bool transaction = e.name == "transactionEncoded";
  const std::string kind = Kind(transaction);
  // An answer the register refused is evidence, not a sale.
  const bool rejected = ChildText(e.body, kind + "Rejected").has_value();
  (rejected ? outcome_.rejections : transaction ? outcome_.transactions : outcome_.reports)++;
  if (!checked.record) {
    AddS(e, kind + ": " + checked.problem);
    // Its L record is still its own: the records after it keep their partners.
    if (l_) (void)NextL(transaction);
    return;
  }
  const AuditedRecord& record = *checked.record;
  const std::string card = record.tpId + " " + std::to_string(record.tpIdNo);
  if (!checked.problem.empty()) {
    AddS(e, kind + (rejected ? ": refused answer: " : ": ") + checked.problem);
  }
  if (record.rejected) {
    SequenceEvent event;
    event.kind = SequenceEvent::Kind::kRejected;
    event.first = event.last = record.seqNo;
    event.place = event.lastPlace = Place(e);
    Segment(card, transaction).events.push_back(std::move(event));
  } else if (record.refused) {
    outcome_.refusals++;  // nothing was signed, no number used
  } else if (record.answered) {
    const bool counted =
        checked.problem.empty() && !record.signature.empty() && Signed(record, key);
    // An unsigned daily closing shows the card's last report number without taking a new one.
    if (transaction || !record.signature.empty())
      Segment(card, transaction)
          .Answered(record.seqNo, Place(e), record.print, counted, record.request);
  } else if (ChildText(e.body, kind + "Request")) {
    Unanswered(e, kind + ": request without an answer", transaction, record.request, false);
  }
  if (!l_) return;  // named once for the pair
  const std::optional<LRecord> l = NextL(transaction);
  if (!l) {
    // A record whose L part the end of the run cut off: the cut is named with the L file.
    if (lCut_ && !lCutMatched_ && lCut_->name == kind) {
      lCutMatched_ = true;
      return;
    }
    AddS(e, kind + ": no matching " + kind + " record in the L file");
    return;
  }
  Mismatches(record, *l);
}

void PairAudit::Late(const JournalElement& e, const Checked& checked,
                     const ParsedCertificate* key) {
  const bool transaction = e.name == "transactionLate";
  const std::string prefix = "late " + Kind(transaction) + " answer: ";
  if (!checked.record || !checked.record->answered) {
    AddS(e, prefix + (checked.record ? "no answer in it" : checked.problem));
    return;
  }
  outcome_.lateAnswers++;
  const AuditedRecord& record = *checked.record;
  if (!checked.problem.empty()) {
    AddS(e, prefix + checked.problem);
  } else if (!record.signature.empty()) {
    (void)Signed(record, key);
  }
  SequenceEvent event;
  event.kind = SequenceEvent::Kind::kLate;
  event.first = event.last = record.seqNo;
  event.place = event.lastPlace = Place(e);
  event.request = record.request;
  event.numbered = transaction || !record.signature.empty();
  Segment(record.tpId + " " + std::to_string(record.tpIdNo), transaction)
      .events.push_back(std::move(event));
}

bool PairAudit::ReadL() {
  if (!l_ || lEnded_) return false;
  std::optional<JournalElement> e = l_->Next();
  if (!e) {
    lEnded_ = true;
    return false;
  }
  if (e->name == "qorParams") {
    if (e->complete) lParams_.push_back(e->body);
    return true;
  }
  ++lRecords_;
  if (!e->complete) {
    lCut_ = std::move(e);
    return true;
  }
  if (e->name == "transactionLate" || e->name == "reportLate") return true;
  if (e->name != "transaction" && e->name != "report") {
    Add(lName_, e->offset, lRecords_, "element " + e->name + " does not belong here", sRecords_);
    return true;
  }
  LRecord l;
  l.transaction = e->name == "transaction";
  l.offset = e->offset;
  l.number = lRecords_;
  l.tpId = LField(e->body, "tpId");
  l.tpIdNo = LField(e->body, "tpIdNo");
  l.seqNo = LField(e->body, l.transaction ? "seqNoTransaction" : "seqNoReport");
  l.sig = LField(e->body, "sig");
  l.hasSig = ChildText(e->body, "sig").has_value();
  lQueue_[l.transaction ? 0 : 1].push_back(std::move(l));
  return true;
}

std::optional<PairAudit::LRecord> PairAudit::NextL(bool transaction) {
  std::deque<LRecord>& queue = lQueue_[transaction ? 0 : 1];
  while (queue.empty() && ReadL()) {
  }
  if (queue.empty()) return std::nullopt;
  LRecord l = std::move(queue.front());
  queue.pop_front();
  return l;
}

void PairAudit::Mismatches(const AuditedRecord& s, const LRecord& l) {
  const std::string kind = Kind(s.transaction);
  const auto add = [&](const std::string& field) {
    Add(lName_, l.offset, l.number, kind + " " + std::to_string(s.seqNo) + ": L field " + field,
        sRecords_);
  };
  if (!s.answered) {
    if (l.hasSig) add("sig (the S record has no answer)");
    return;
  }
  const auto compare = [&](std::string_view name, const std::string& found,
                           const std::string& expected) {
    if (found != expected)
      add(std::string(name) + " \"" + found + "\" instead of \"" + expected + "\"");
  };
  compare("tpId", l.tpId, s.tpId);
  compare("tpIdNo", l.tpIdNo, std::to_string(s.tpIdNo));
  compare(s.transaction ? "seqNoTransaction" : "seqNoReport", l.seqNo, std::to_string(s.seqNo));
  if (!s.signature.empty()) compare("sig", l.sig, HexCompact(s.signature));
}

void PairAudit::Frame(const JournalStream& stream, const std::string& name,
                      const std::optional<JournalElement>& cut, std::size_t records) {
  const auto add = [&](std::size_t offset, std::size_t record, const std::string& text) {
    Add(name, offset, record, text, kPairEnd);
  };
  if (!stream.Problem().empty()) add(stream.Size(), 0, stream.Problem());
  if (stream.Closed()) return;
  if (stream.JunkAt() != 0) {
    add(stream.JunkAt(), 0, "not a record here; read up to the last complete record");
  } else if (cut) {
    add(cut->offset, records, "record cut off; read up to the last complete record");
  } else if (stream.Problem().empty()) {
    add(stream.Size(), 0,
        "no closing tag (the run ended abnormally); read up to the last complete record");
  }
}

PairOutcome PairAudit::Finish() {
  // A crash may cut the last record after its request was written whole: the card may have
  // answered it, so it counts for the gaps that follow. So does a record cut after its whole
  // answer (in its closing tag, say): the number is taken, though the record is not complete.
  if (sCut_) {
    const bool transaction = sCut_->name == "transactionEncoded";
    const std::string kind = Kind(transaction);
    const std::string_view body = sCut_->body;
    if ((transaction || sCut_->name == "reportEncoded") && ChildText(body, kind + "Request") &&
        !ChildText(body, kind + "Refused")) {
      auto request = Base64Decode(*ChildText(body, kind + "Request"));
      const bool answered = ChildText(body, kind + "Response").has_value();
      Unanswered(*sCut_,
                 kind + (answered ? ": answer in a record cut off after it, not counted as a sale"
                                  : ": request without an answer (record cut off)"),
                 transaction, request ? std::move(*request) : Bytes(), true);
    }
    // Its L record, whole or cut as well, is no record without an S record.
    if (l_ && (transaction || sCut_->name == "reportEncoded")) (void)NextL(transaction);
  }
  if (l_) {
    while (ReadL()) {
    }
    for (int kind = 0; kind < 2; ++kind)
      for (const LRecord& l : lQueue_[kind])
        Add(lName_, l.offset, l.number, Kind(kind == 0) + " without a matching S record", kPairEnd);
  }
  Frame(s_, sName_, sCut_, sRecords_);
  if (l_) Frame(*l_, lName_, lCut_, lRecords_);
  if (sParams_.empty()) Add(sName_, 0, 0, "no parameter block", kPairEnd);
  if (l_ && sParams_ != lParams_)
    Add(lName_, 0, 0, "parameter block differs from the S file's", kPairEnd);
  outcome_.certificate = key_;
  return std::move(outcome_);
}

}  // namespace kasse
