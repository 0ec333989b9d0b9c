#include "verify/journal_audit.h"

#include <algorithm>
#include <map>

#include "common/base_n.h"
#include "common/cp1252.h"
#include "journal/journal_scan.h"

namespace kasse {

std::vector<std::pair<std::filesystem::path, std::filesystem::path>> JournalPairs(
    const std::filesystem::path& home, LoneLFiles lone) {
  std::map<std::string, std::pair<std::filesystem::path, std::filesystem::path>> byBase;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(home / "Journal", error)) {
    const std::string name = entry.path().filename().string();
    const bool s = name.ends_with("S.xml"), l = name.ends_with("L.xml");
    if (!s && !l) continue;
    auto& pair = byBase[name.substr(0, name.size() - 5)];
    (s ? pair.first : pair.second) = entry.path();
  }
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pairs;
  for (auto& [base, pair] : byBase)
    if (!pair.first.empty() || lone == LoneLFiles::kList) pairs.push_back(std::move(pair));
  return pairs;
}

AuditReport AuditFiles(
    const std::vector<std::pair<std::filesystem::path, std::filesystem::path>>& pairs,
    std::shared_ptr<const TrustStore> trust, AuditOptions options) {
  JournalAuditor auditor(std::move(trust), options);
  for (const auto& [sPath, lPath] : pairs)
    auditor.AuditFilePair(sPath, lPath);
  AuditReport report = auditor.Report();
  if (pairs.empty()) report.unusable.push_back("no journal pair found");
  return report;
}

std::string AuditText(const AuditReport& report) {
  std::string text;
  for (const std::string& problem : report.unusable)
    text += "unusable: " + problem + "\n";
  for (const AuditFinding& f : report.findings) {
    text += f.file + " @" + std::to_string(f.offset);
    if (f.record != 0) text += " record " + std::to_string(f.record);
    text += ": " + Cp1252ToUtf8(f.text) + "\n";
  }
  text += std::to_string(report.transactions) + " transactions, " + std::to_string(report.reports) +
          " reports, " + std::to_string(report.signaturesChecked) + " signatures valid, " +
          std::to_string(report.findings.size()) + " findings";
  if (report.signaturesUntrusted != 0)
    text += ", " + std::to_string(report.signaturesUntrusted) +
            " signatures under a certificate that does not count";
  if (!report.issuersChecked) text += ", certificates not checked against an issuer (none trusted)";
  if (report.refusals != 0) text += ", " + std::to_string(report.refusals) + " refused by the card";
  if (report.lateAnswers != 0) text += ", " + std::to_string(report.lateAnswers) + " late answers";
  if (report.rejections != 0)
    text += ", " + std::to_string(report.rejections) +
            " answer(s) the register refused (a number already journalled)";
  if (report.duplicates != 0)
    text += ", " + std::to_string(report.duplicates) +
            " record(s) journalled twice byte for byte, counted once";
  text += "\n";
  return text;
}

int AuditExitCode(const AuditReport& report) {
  if (!report.unusable.empty()) return 2;
  return report.findings.empty() ? 0 : 1;
}

std::vector<QorParams> ParamsOfJournal(std::string_view text) {
  return ParamsOfBlocks(ScanJournal(text).params);
}

std::vector<QorParams> ParamsOfBlocks(const std::vector<std::string_view>& blocks) {
  std::vector<QorParams> params;
  for (std::string_view body : blocks) {
    const auto field = [&](std::string_view name) {
      auto value = ChildText(body, name);
      return value ? XmlUnescaped(*value) : std::string();
    };
    params.push_back({field("qorVersion"), field("tpId"), field("tpIdNo"), field("certificate")});
  }
  return params;
}

}  // namespace kasse
