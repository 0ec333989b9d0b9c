// A journal pair as kavelo-verify audit reads it: the S text, then the L text after a NUL.

#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "verify/journal_audit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const std::string_view sText = input.TakeText();
  const std::string_view lText = input.RestText();
  JournalAuditor auditor(nullptr, {1});  // one thread: the fuzzer runs many inputs a second
  auditor.AuditPair("S.xml", sText, "L.xml", lText);
  const AuditReport& report = auditor.Report();
  for (const AuditFinding& finding : report.findings) {
    const std::size_t limit = finding.file == "S.xml" ? sText.size() : lText.size();
    if (finding.offset > limit) fuzz::Violated("a finding lies inside its file");
  }
  (void)AuditText(report);
  (void)ParamsOfJournal(sText);
  return 0;
}
