#pragma once
// Audit of journal pairs: every S record decoded and its card signature checked, sequence
// numbers per card strictly increasing (gaps listed), every S record matched by its L record,
// both files well-formed. A journal cut short by a crash is read up to its last complete record.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "journal/journal.h"

namespace kasse {

struct ScannedRecord;
struct AuditedRecord;
struct ScannedJournal;
class SequenceBook;
class TrustStore;
class ParsedCertificate;

struct AuditFinding {
  std::string file;        // file name without folder
  std::size_t offset = 0;  // byte offset of the record (or of the problem) in that file
  std::size_t record = 0;  // 1-based record number in the file, 0 for the file itself
  std::string text;
};

struct AuditReport {
  std::vector<AuditFinding> findings;
  std::vector<std::string> unusable;  // files that could not be audited at all
  std::size_t transactions = 0, reports = 0, signaturesChecked = 0, lateAnswers = 0, refusals = 0;
  bool issuersChecked = false;  // the certificates were checked against trusted issuers
};

// One journal pair given as texts; carries sequence state across calls so that the pairs of a
// home folder, audited in name order, are checked as one history. A refusal of the card
// (transactionRefused, reportRefused) is no finding: nothing was signed. A late answer
// (transactionLate, reportLate) has its signature checked, explains its number and answers
// the request it belongs to.
class JournalAuditor {
 public:
  // `trust`: the issuers the parameter blocks' certificates must come from; none given or
  // none in it: certificates are not checked against an issuer (the summary says so).
  explicit JournalAuditor(std::shared_ptr<const TrustStore> trust = nullptr);
  ~JournalAuditor();
  void AuditPair(std::string_view sName, std::string_view sText, std::string_view lName,
                 std::string_view lText);
  // The findings so far, in journal order.
  AuditReport Report() const;

 private:
  struct SPlace {
    std::string_view file;
    const ScannedRecord& record;
    std::size_t number;
  };
  struct LPlace {
    std::string_view file;
    const ScannedRecord* record;  // none: the L file has no record left for it
    std::size_t number;
  };
  struct Pending {  // a request without an answer, until a late answer comes
    std::size_t finding;
    bool transaction;
    Bytes request;
  };
  struct CardCertificateSeen {
    std::string card, file, subject;
    Bytes der;
    std::string chainProblem;  // empty: a trusted issuer vouches for it, or none was checked
  };
  void AuditRecord(const SPlace& s, const LPlace& l, const ParsedCertificate* certificate);
  void AuditLate(const SPlace& s, const ParsedCertificate* certificate);
  void CheckParams(const ScannedJournal& s, std::string_view sName);
  std::size_t Add(AuditFinding finding);
  void Unanswered(AuditFinding finding, bool transaction, Bytes request);
  void Sequence(const AuditedRecord& record, std::string_view sName, bool late);

  AuditReport report_;
  // Per finding: explained by a late answer; the gap of the book it reports.
  std::vector<bool> dropped_;
  std::vector<std::optional<std::size_t>> gapOf_;
  std::unique_ptr<SequenceBook> book_;
  std::vector<Pending> pending_;
  std::vector<CardCertificateSeen> certificates_;
  std::shared_ptr<const TrustStore> trust_;
  std::size_t unansweredRequests_ = 0;
};

// The pairs under home/Journal in name order (S name, L name); the L file of an S file may be
// missing, then its path is empty.
std::vector<std::pair<std::filesystem::path, std::filesystem::path>> JournalPairs(
    const std::filesystem::path& home);

AuditReport AuditFiles(
    const std::vector<std::pair<std::filesystem::path, std::filesystem::path>>& pairs,
    std::shared_ptr<const TrustStore> trust = nullptr);

// One finding a line, then a summary line (UTF-8).
std::string AuditText(const AuditReport& report);

// 0 clean, 1 findings, 2 unusable.
int AuditExitCode(const AuditReport& report);

// The parameter blocks of a journal text, their values unescaped.
std::vector<QorParams> ParamsOfJournal(std::string_view text);
std::vector<QorParams> ParamsOfBlocks(const std::vector<std::string_view>& blocks);

}  // namespace kasse
