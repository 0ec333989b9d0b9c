#pragma once
// Audit of journal pairs: every S record decoded and its card signature checked, each card's
// sequence numbers accounted for in the order the journals say (not their names), every S
// record matched by its L record, both files well-formed. A journal cut short by a crash is
// read up to its last complete record; an empty pair (made, never written) is one finding.
// The files are read as streams and the signatures checked on all cores; the findings come out
// in the same order whatever the number of threads.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal.h"

namespace kasse {

class TrustStore;

struct AuditFinding {
  std::string file;        // file name without folder
  std::size_t offset = 0;  // byte offset of the record (or of the problem) in that file
  std::size_t record = 0;  // 1-based record number in the file, 0 for the file itself
  std::string text;
};

struct AuditReport {
  std::vector<AuditFinding> findings;
  std::vector<std::string> unusable;  // files that could not be audited at all
  std::size_t transactions = 0, reports = 0, lateAnswers = 0, refusals = 0;
  std::size_t rejections = 0;  // answers the register refused: evidence, neither sale nor report
  std::size_t duplicates = 0;  // records found again byte for byte in another pair, counted once
  std::size_t signaturesChecked = 0;    // valid under a certificate that counts
  std::size_t signaturesUntrusted = 0;  // valid, but under a certificate that does not count
  bool issuersChecked = false;          // the certificates were checked against trusted issuers
};

struct AuditOptions {
  unsigned threads = 0;  // threads checking signatures; 0: one per core
};

// Journal pairs, checked as one history. A refusal of the card (transactionRefused,
// reportRefused) is no finding: nothing was signed. A late answer (transactionLate,
// reportLate) has its signature checked, explains its number and answers the request it
// belongs to. An answer the register refused (transactionRejected, reportRejected: the card
// answered a number already journalled) has its signature checked and is one finding, never a
// sale or a report nor the number's record. A record written again into a new pair (rescued at
// the next start) is one record: found twice byte for byte, it is no repeat and counted once;
// it answers the request its first pair kept cut off without an answer. A signature counts only
// under a certificate that names the card and, when issuers are trusted, chains to one of them (or
// has the key of one that does: a card re-certified keeps its key); a journal whose certificate
// does not is named once.
class JournalAuditor {
 public:
  // `trust`: the issuers the parameter blocks' certificates must come from; none given or
  // none in it: certificates are not checked against an issuer (the summary says so).
  explicit JournalAuditor(std::shared_ptr<const TrustStore> trust = nullptr,
                          AuditOptions options = {});
  ~JournalAuditor();
  JournalAuditor(const JournalAuditor&) = delete;
  JournalAuditor& operator=(const JournalAuditor&) = delete;

  // A pair given as texts (copied). Pairs are given in name order.
  void AuditPair(std::string_view sName, std::string_view sText, std::string_view lName,
                 std::string_view lText);
  // A pair given as files, read when the report is made. An empty L path: the S file has no L
  // file; an empty S path: the L file has no S file.
  void AuditFilePair(const std::filesystem::path& s, const std::filesystem::path& l);
  // Audits what was given (once) and returns the findings.
  AuditReport Report();

  struct Source;

 private:
  std::vector<Source> sources_;
  std::shared_ptr<const TrustStore> trust_;
  AuditOptions options_;
  std::optional<AuditReport> report_;
};

// Whether an L file without its S file is listed (with an empty S path) or left out.
enum class LoneLFiles { kLeaveOut, kList };

// The pairs under home/Journal in name order (S name, L name); the L file of an S file may be
// missing, then its path is empty.
std::vector<std::pair<std::filesystem::path, std::filesystem::path>> JournalPairs(
    const std::filesystem::path& home, LoneLFiles lone = LoneLFiles::kLeaveOut);

AuditReport AuditFiles(
    const std::vector<std::pair<std::filesystem::path, std::filesystem::path>>& pairs,
    std::shared_ptr<const TrustStore> trust = nullptr, AuditOptions options = {});

// One finding a line, then a summary line (UTF-8).
std::string AuditText(const AuditReport& report);

// 0 clean, 1 findings, 2 unusable.
int AuditExitCode(const AuditReport& report);

// The parameter blocks of a journal text, their values unescaped.
std::vector<QorParams> ParamsOfJournal(std::string_view text);
std::vector<QorParams> ParamsOfBlocks(const std::vector<std::string_view>& blocks);

}  // namespace kasse
