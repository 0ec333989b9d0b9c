#include "verify/journal_audit.h"

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <deque>
#include <map>
#include <thread>

#include "verify/card_certificate.h"
#include "verify/check_pool.h"
#include "verify/journal_pair_audit.h"
#include "verify/trust_store.h"

namespace kasse {

struct JournalAuditor::Source {
  std::string sName, lName;
  std::filesystem::path sPath, lPath;  // files; empty when given as texts
  std::string sText, lText;            // texts
  bool files = false, lGiven = true, sGiven = true;
};

namespace {

// Records handed to a worker at once, and batches waiting per thread at most.
constexpr std::size_t kBatchRecords = 64;
constexpr std::size_t kBatchesPerThread = 3;

struct OrderedFinding {
  AuditFinding finding;
  std::size_t pair = 0, ordinal = 0;
  int phase = 0;  // within a record: its own findings, then those of the history
};

// Opens a pair's files; nothing when there is nothing to audit (said in the report).
std::unique_ptr<PairAudit> OpenPair(std::size_t index, const JournalAuditor::Source& source,
                                    AuditReport& report, std::vector<OrderedFinding>& findings) {
  const auto open = [&](const std::filesystem::path& path,
                        const std::string& text) -> Result<JournalStream> {
    if (!source.files) return JournalStream::OfText(text);
    return JournalStream::OpenFile(path);
  };
  const auto finding = [&](const std::string& file, std::string text) {
    findings.push_back({{file, 0, 0, std::move(text)}, index, 0, 0});
  };
  if (!source.sGiven) {
    finding(source.lName, "L file without its S file (" + source.sName + " is missing)");
    return nullptr;
  }
  Result<JournalStream> s = open(source.sPath, source.sText);
  if (!s) {
    report.unusable.push_back(s.error().English());
    return nullptr;
  }
  std::optional<JournalStream> l;
  JournalStream::Start lStart = JournalStream::Start::kEmpty;
  std::string lAbsence;
  if (!source.lGiven) {
    lAbsence = "no L file (" + source.lName + " is missing); the S file is audited alone";
  } else if (Result<JournalStream> opened = open(source.lPath, source.lText); !opened) {
    report.unusable.push_back(opened.error().English());
    lAbsence = "L file unreadable; the S file is audited alone";
  } else {
    l = std::move(*opened);
    lStart = l->Begin();
  }
  const JournalStream::Start sStart = s->Begin();
  if (sStart == JournalStream::Start::kEmpty && (!l || lStart == JournalStream::Start::kEmpty)) {
    // Made, and then nothing could be written (a full disk): it holds no record.
    finding(source.sName, "empty journal pair (" + source.sName + ", " + source.lName +
                              "): made but never written, as when the disk was full; it holds "
                              "no record");
    return nullptr;
  }
  if (sStart != JournalStream::Start::kJournal) {
    if (sStart == JournalStream::Start::kEmpty)
      finding(source.sName, "empty S file: made but never written; the L file is not audited");
    else
      report.unusable.push_back(source.sName + ": not a journal (no journal header)");
    return nullptr;
  }
  if (l && lStart != JournalStream::Start::kJournal) {
    if (lStart == JournalStream::Start::kForeign)
      report.unusable.push_back(source.lName + ": not a journal (no journal header)");
    lAbsence = lStart == JournalStream::Start::kEmpty
                   ? "empty L file (" + source.lName + "); the S file is audited alone"
                   : "L file unusable; the S file is audited alone";
    l.reset();
  }
  return std::make_unique<PairAudit>(index, source.sName, std::move(*s), source.lName, std::move(l),
                                     lAbsence);
}

// Reads every pair and checks its signatures on `threads` threads; the batches are merged in
// file order, so the outcome does not depend on the number of threads.
std::vector<PairOutcome> ReadPairs(const std::vector<JournalAuditor::Source>& sources,
                                   unsigned threads, AuditReport& report,
                                   std::vector<OrderedFinding>& findings) {
  std::vector<PairOutcome> outcomes(sources.size());
  CheckPool pool(threads);
  struct InFlight {
    PairAudit* pair;
    std::unique_ptr<PairAudit::Batch> batch;
    std::future<void> checked;
    bool last;
  };
  std::deque<InFlight> inFlight;
  std::map<std::size_t, std::unique_ptr<PairAudit>> open;
  const auto mergeOldest = [&] {
    InFlight& oldest = inFlight.front();
    oldest.checked.wait();
    oldest.pair->Merge(*oldest.batch);
    if (oldest.last) {
      outcomes[oldest.pair->Index()] = oldest.pair->Finish();
      open.erase(oldest.pair->Index());
    }
    inFlight.pop_front();
  };
  const std::size_t bound = kBatchesPerThread * std::max(1u, threads);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    std::unique_ptr<PairAudit> pair = OpenPair(i, sources[i], report, findings);
    if (!pair) continue;
    PairAudit* reading = open.emplace(i, std::move(pair)).first->second.get();
    for (bool more = true; more;) {
      auto batch = std::make_unique<PairAudit::Batch>();
      more = reading->ReadBatch(*batch, kBatchRecords);
      PairAudit::Batch* job = batch.get();
      std::future<void> checked = pool.Run([job] { PairAudit::Check(*job); });
      inFlight.push_back({reading, std::move(batch), std::move(checked), !more});
      while (inFlight.size() > bound)
        mergeOldest();
    }
  }
  while (!inFlight.empty())
    mergeOldest();
  return outcomes;
}

// Whether a signature under each pair's certificate counts, and the findings that says.
class CertificateJudge {
 public:
  CertificateJudge(std::shared_ptr<const TrustStore> trust, const std::vector<std::string>& names)
      : trust_(std::move(trust)), names_(names) {}

  bool Checking() const { return trust_ && !trust_->Empty(); }

  // A card re-certified keeps its key; two keys under one name and number are two cards, or a
  // forgery. In name order, as the journals were made.
  void SeeCertificates(std::size_t pair, const PairOutcome& outcome,
                       std::vector<OrderedFinding>& findings) {
    for (const auto& [card, der] : outcome.certificates) {
      auto parsed = ParsedCertificate::FromDer(der);
      if (!parsed) continue;
      bool seenBefore = false;
      for (const Seen& seen : seen_) {
        if (seen.card != card) continue;
        seenBefore = seenBefore || seen.certificate->Der() == der;
        if (!seenBefore && EVP_PKEY_eq(seen.certificate->Key(), (*parsed)->Key()) != 1) {
          findings.push_back({{names_[pair], 0, 0,
                               "card " + card +
                                   ": two different certificates with different "
                                   "keys: " +
                                   (*parsed)->Subject() + " here, " + seen.certificate->Subject() +
                                   " in " + names_[seen.pair]},
                              pair,
                              0,
                              0});
          seenBefore = true;  // one finding a certificate
        }
      }
      if (seenBefore) continue;
      const std::string problem = Checking() ? trust_->ChainProblem(**parsed) : "";
      seen_.push_back({card, pair, *parsed, problem});
    }
  }

  // Adds the pair's valid signatures to the report, where they count.
  void Judge(std::size_t pair, const PairOutcome& outcome, AuditReport& report,
             std::vector<OrderedFinding>& findings) const {
    const ParsedCertificate* certificate = outcome.certificate.get();
    const auto finding = [&](std::string text) {
      findings.push_back({{names_[pair], 0, 0, std::move(text)}, pair, 0, 0});
    };
    std::size_t valid = 0;
    for (const auto& [card, count] : outcome.validByCard)
      valid += count;
    if (certificate == nullptr) return;  // every signature already named as not checked
    if (!certificate->NamedCard()) {
      finding("certificate in " + names_[pair] + " names no card (" + certificate->Subject() +
              "): a card certificate carries the card's name as CN and its number as "
              "serialNumber; its signatures do not count");
      report.signaturesUntrusted += valid;
      return;
    }
    std::string problem;
    if (Checking() && !Vouched(outcome.certificateCard, *certificate, problem)) {
      finding("certificate of " + outcome.certificateCard + " in " + names_[pair] +
              " is not issued by a trusted issuer: " + problem);
      report.signaturesUntrusted += valid;
      return;
    }
    for (const auto& [card, count] : outcome.validByCard) {
      if (count == 0) continue;  // each one a copy of a record counted elsewhere
      if (NamesCard(*certificate, card)) {
        report.signaturesChecked += count;
        continue;
      }
      finding(std::to_string(count) + " signature(s) of card " + card + " under the certificate " +
              certificate->Subject() + ", which names another card; they do not count");
      report.signaturesUntrusted += count;
    }
  }

 private:
  struct Seen {
    std::string card;
    std::size_t pair;
    std::shared_ptr<const ParsedCertificate> certificate;
    std::string chainProblem;
  };

  // `card` as "tpId tpIdNo"; the name may hold blanks, the number never does.
  static bool NamesCard(const ParsedCertificate& certificate, const std::string& card) {
    const std::size_t blank = card.rfind(' ');
    if (blank == std::string::npos) return false;
    std::uint64_t number = 0;
    const char* end = card.data() + card.size();
    const auto read = std::from_chars(card.data() + blank + 1, end, number);
    if (read.ec != std::errc() || read.ptr != end) return false;
    return certificate.NamesCard(std::string_view(card).substr(0, blank), number);
  }

  // A trusted issuer vouches for the certificate, or for another of the card with its key.
  bool Vouched(const std::string& card, const ParsedCertificate& certificate,
               std::string& problem) const {
    problem = trust_->ChainProblem(certificate);
    if (problem.empty()) return true;
    return std::any_of(seen_.begin(), seen_.end(), [&](const Seen& seen) {
      return seen.card == card && seen.chainProblem.empty() &&
             EVP_PKEY_eq(seen.certificate->Key(), certificate.Key()) == 1;
    });
  }

  std::shared_ptr<const TrustStore> trust_;
  const std::vector<std::string>& names_;
  std::vector<Seen> seen_;
};

}  // namespace

JournalAuditor::JournalAuditor(std::shared_ptr<const TrustStore> trust, AuditOptions options)
    : trust_(std::move(trust)), options_(options) {}

JournalAuditor::~JournalAuditor() = default;

void JournalAuditor::AuditPair(std::string_view sName, std::string_view sText,
                               std::string_view lName, std::string_view lText) {
  Source source;
  source.sName = sName;
  source.lName = lName;
  source.sText = sText;
  source.lText = lText;
  sources_.push_back(std::move(source));
  report_.reset();
}

void JournalAuditor::AuditFilePair(const std::filesystem::path& s, const std::filesystem::path& l) {
  Source source;
  source.files = true;
  source.sPath = s;
  source.lPath = l;
  source.sGiven = !s.empty();
  source.lGiven = !l.empty();
  const auto partner = [](const std::filesystem::path& path, char from, char to) {
    std::string name = path.filename().string();
    if (name.size() >= 5 && name[name.size() - 5] == from) name[name.size() - 5] = to;
    return name;
  };
  source.sName = s.empty() ? partner(l, 'L', 'S') : s.filename().string();
  source.lName = l.empty() ? partner(s, 'S', 'L') : l.filename().string();
  sources_.push_back(std::move(source));
  report_.reset();
}

AuditReport JournalAuditor::Report() {
  if (report_) return *report_;
  AuditReport report;
  std::vector<OrderedFinding> findings;
  const unsigned threads =
      options_.threads != 0 ? options_.threads : std::max(1u, std::thread::hardware_concurrency());
  std::vector<PairOutcome> outcomes = ReadPairs(sources_, threads, report, findings);

  std::vector<std::string> names;
  for (const Source& source : sources_)
    names.push_back(source.sName);
  CertificateJudge judge(trust_, names);
  report.issuersChecked = judge.Checking();
  std::vector<SequenceSegment> segments;
  std::vector<std::size_t> firstFinding;  // index in `findings` of each pair's own findings
  for (std::size_t pair = 0; pair < outcomes.size(); ++pair) {
    PairOutcome& outcome = outcomes[pair];
    report.transactions += outcome.transactions;
    report.reports += outcome.reports;
    report.lateAnswers += outcome.lateAnswers;
    report.refusals += outcome.refusals;
    report.rejections += outcome.rejections;
    firstFinding.push_back(findings.size());
    for (PairFinding& f : outcome.findings)
      findings.push_back({std::move(f.finding), pair, f.ordinal, 0});
    judge.SeeCertificates(pair, outcome, findings);
  }
  for (std::size_t pair = 0; pair < outcomes.size(); ++pair) {
    for (SequenceSegment& segment : outcomes[pair].segments) {
      for (SequenceEvent& event : segment.events)
        event.finding += firstFinding[pair];
      segments.push_back(std::move(segment));
    }
  }
  const HistoryResult history = CheckHistory(std::move(segments), names);
  // A record journalled twice byte for byte is one sale, its signature one signature.
  for (const DuplicateRecord& copy : history.duplicates) {
    std::size_t& count = copy.transaction ? report.transactions : report.reports;
    count -= std::min<std::size_t>(count, 1);
    report.duplicates++;
    if (!copy.counted) continue;
    std::size_t& valid = outcomes[copy.pair].validByCard[copy.card];
    valid -= std::min<std::size_t>(valid, 1);
  }
  for (std::size_t pair = 0; pair < outcomes.size(); ++pair)
    judge.Judge(pair, outcomes[pair], report, findings);
  std::vector<bool> dropped(findings.size(), false);
  for (std::size_t answered : history.answeredLater)
    dropped[answered] = true;
  for (const HistoryFinding& f : history.findings) {
    findings.push_back({{names[f.place.pair], f.place.offset, f.place.record, f.text},
                        f.place.pair,
                        f.place.record,
                        1});
    dropped.push_back(false);
  }
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < findings.size(); ++i)
    if (!dropped[i]) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const OrderedFinding &x = findings[a], &y = findings[b];
    return std::tie(x.pair, x.ordinal, x.phase) < std::tie(y.pair, y.ordinal, y.phase);
  });
  for (std::size_t i : order)
    report.findings.push_back(std::move(findings[i].finding));
  report_ = report;
  return report;
}

}  // namespace kasse
