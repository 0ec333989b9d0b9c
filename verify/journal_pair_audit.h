#pragma once
// One journal pair audited as a stream: the S file is read in batches whose signatures worker
// threads check, and the batches are merged back in file order with the L file, which is read
// alongside. What the pair says about sequence numbers and certificates is handed on for the
// checks across pairs.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "journal/journal_stream.h"
#include "verify/journal_audit.h"
#include "verify/journal_record.h"
#include "verify/sequence_book.h"

namespace kasse {

class ParsedCertificate;

// Findings before every record of a pair (ordinal 0) or after all of them.
inline constexpr std::size_t kPairEnd = static_cast<std::size_t>(-1);

struct PairFinding {
  AuditFinding finding;
  std::size_t ordinal = 0;  // the S record it belongs to, for the order of the report
};

struct PairOutcome {
  std::vector<PairFinding> findings;
  std::vector<SequenceSegment> segments;
  std::vector<std::pair<std::string, Bytes>> certificates;  // card and DER of each S block
  std::shared_ptr<const ParsedCertificate> certificate;     // the first block's: checks all
  std::string certificateCard;
  std::map<std::string, std::size_t> validByCard;  // signatures valid under `certificate`
  std::size_t transactions = 0, reports = 0, lateAnswers = 0, refusals = 0, rejections = 0;
  std::vector<std::string> unusable;
};

class PairAudit {
 public:
  struct Batch {
    std::vector<JournalElement> elements;
    std::vector<std::shared_ptr<const ParsedCertificate>> certificates;  // each element's
    std::vector<std::optional<Checked>> checked;
  };

  // `l`: none when the S file stands alone; `lAbsence` then says why.
  PairAudit(std::size_t index, std::string sName, JournalStream s, std::string lName,
            std::optional<JournalStream> l, std::string lAbsence);

  // Reads up to `count` elements of the S file; false once the file is read.
  bool ReadBatch(Batch& batch, std::size_t count);
  // The signature checks of a batch; any thread.
  static void Check(Batch& batch);
  // In file order, on the thread that reads.
  void Merge(const Batch& batch);
  PairOutcome Finish();

  std::size_t Index() const { return index_; }

 private:
  struct LRecord {
    bool transaction = true;
    std::size_t offset = 0, number = 0;
    std::string tpId, tpIdNo, seqNo, sig;
    bool hasSig = false;
  };

  RecordPlace Place(const JournalElement& e) const { return {index_, e.offset, sRecords_}; }
  void Add(std::string file, std::size_t offset, std::size_t record, std::string text,
           std::size_t ordinal);
  void AddS(const JournalElement& e, std::string text) {
    Add(sName_, e.offset, sRecords_, std::move(text), sRecords_);
  }
  SequenceSegment& Segment(const std::string& card, bool transaction);
  void Params(const JournalElement& e);
  void Record(const JournalElement& e, const Checked& checked, const ParsedCertificate* key);
  void Late(const JournalElement& e, const Checked& checked, const ParsedCertificate* key);
  // Counts a valid signature under the pair's certificate; returns whether it was counted.
  bool Signed(const AuditedRecord& record, const ParsedCertificate* key);
  void Unanswered(const JournalElement& e, std::string text, bool transaction, Bytes request,
                  bool cut);
  // Reads one more element of the L file into the queue of its kind; false at its end.
  bool ReadL();
  std::optional<LRecord> NextL(bool transaction);
  void Mismatches(const AuditedRecord& s, const LRecord& l);
  void Frame(const JournalStream& stream, const std::string& name,
             const std::optional<JournalElement>& cut, std::size_t records);

  std::size_t index_;
  std::string sName_, lName_;
  JournalStream s_;
  std::optional<JournalStream> l_;
  std::string lAbsence_;
  PairOutcome outcome_;
  std::shared_ptr<const ParsedCertificate> key_;  // the first parameter block's certificate
  bool sawParams_ = false;
  std::string currentCard_ = "?";
  std::vector<std::string> sParams_, lParams_;
  std::size_t sRecords_ = 0, lRecords_ = 0;
  std::optional<JournalElement> sCut_, lCut_;
  bool lCutMatched_ = false;  // an S record stands for the L file's cut-off record
  std::deque<LRecord> lQueue_[2];
  bool lEnded_ = false;
};

// The card a parameter block names: "tpId tpIdNo", the number as a number when it is one.
std::string CardOfParams(const QorParams& params);

}  // namespace kasse
