#include "verify/receipt_verdict.h"

#include "common/amount.h"
#include "common/cp1252.h"
#include "common/files.h"
#include "common/hex_text.h"
#include "common/user_folders.h"
#include "verify/card_certificate.h"
#include "verify/certificate_index.h"

namespace kasse {
namespace {

std::string Dated(const std::string& date, const std::string& time) {
  if (date.size() != 8 || time.size() != 4) return date + " " + time;
  return date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) + " " +
         time.substr(0, 2) + ":" + time.substr(2, 2);
}

std::string Euro(std::int64_t cents) {
  return Cp1252ToUtf8(FormatAmount(cents));
}

}  // namespace

ReceiptVerdict JudgePayload(const Result<Bytes>& payload, const CertificateIndex& index) {
  ReceiptVerdict verdict;
  if (!payload) {
    verdict.reason = payload.error().English();
    return verdict;
  }
  auto receipt = DecodeReceiptPayload(*payload);
  if (!receipt) {
    verdict.validity = Validity::kInvalid;
    verdict.reason =
        receipt.error().English() + " (byte " + std::to_string(receipt.error().offset) + ")";
    return verdict;
  }
  verdict.receipt = *receipt;
  const std::string card = Cp1252ToUtf8(receipt->tpId) + " " + std::to_string(receipt->tpIdNo);
  const std::vector<IndexedCertificate> candidates = index.Find(receipt->tpId, receipt->tpIdNo);
  if (candidates.empty()) {
    verdict.cardUnknown = true;
    // The page is public: where the service looks stays on the command line.
    verdict.reason = "no certificate for the card " + card;
    return verdict;
  }
  std::vector<std::string> problems;
  for (const IndexedCertificate& candidate : candidates) {
    const ParsedCertificate& certificate = *candidate.certificate;
    // Only a certificate that names the card speaks for it, whatever key it holds.
    if (!certificate.NamedCard()) {
      problems.push_back("certificate " + certificate.Subject() +
                         " names no card (CN and a numeric serialNumber)");
      continue;
    }
    if (!certificate.NamesCard(receipt->tpId, receipt->tpIdNo)) {
      problems.push_back("certificate " + certificate.Subject() + " names another card");
      continue;
    }
    if (!candidate.chainProblem.empty()) {
      problems.push_back(candidate.chainProblem);
      continue;
    }
    auto valid =
        CheckSignatureWithKey(certificate.Key(), receipt->signedMessage, receipt->signature);
    if (valid && *valid) {
      verdict.validity = Validity::kValid;
      verdict.reason.clear();
      return verdict;
    }
    problems.push_back((valid ? std::string("the signature does not match the signed data")
                              : "signature unusable: " + valid.error().English()) +
                       " under the certificate " + certificate.Subject());
  }
  verdict.validity = Validity::kInvalid;
  for (const std::string& problem : problems)
    verdict.reason += (verdict.reason.empty() ? "" : "; ") + problem;
  return verdict;
}

ReceiptVerdict JudgeReceipt(std::string_view urlOrT1, const CertificateIndex& index) {
  return JudgePayload(PayloadOfUrl(urlOrT1), index);
}

ReceiptVerdict VerifyReceiptUrl(std::string_view urlOrT1, ByteSpan certificateDer,
                                std::vector<Bytes> issuers) {
  CertificateSources sources;
  sources.cards = {Bytes(certificateDer.begin(), certificateDer.end())};
  sources.trusted = std::move(issuers);
  return JudgeReceipt(urlOrT1, CertificateIndex(std::move(sources)));
}

ReceiptVerdict VerifyReceiptUrl(std::string_view urlOrT1, ByteSpan certificateDer) {
  std::vector<Bytes> issuers;
  if (auto issuer = ReadFile(TestIssuerCertificateFile(), kMaxSmallFile)) {
    if (auto certificates = CertificatesOfFile(*issuer)) issuers = std::move(*certificates);
  }
  return VerifyReceiptUrl(urlOrT1, certificateDer, std::move(issuers));
}

std::optional<std::int64_t> ContainerTax(const PayloadContainer& container, bool vatAddon) {
  if (container.rateDigits.size() > 4) return std::nullopt;
  const Result<std::int64_t> parsed = ParseInteger(container.rateDigits);
  if (!parsed || *parsed < 0 || *parsed > kHighestRate) return std::nullopt;
  const std::int64_t rate = *parsed;
  // turnover * rate / divisor, halves away from zero. Split at the divisor so that no product
  // leaves 64 bits: |turnover| < 10^18 and rate <= 9999.
  const std::int64_t divisor = vatAddon ? 10000 : 10000 + rate;
  const std::uint64_t magnitude = container.turnover < 0
                                      ? 0 - static_cast<std::uint64_t>(container.turnover)
                                      : static_cast<std::uint64_t>(container.turnover);
  const std::uint64_t whole = magnitude / static_cast<std::uint64_t>(divisor);
  const std::uint64_t rest = magnitude % static_cast<std::uint64_t>(divisor);
  const std::uint64_t part = rest * static_cast<std::uint64_t>(rate);
  const std::uint64_t rounded =
      (2 * part + static_cast<std::uint64_t>(divisor)) / (2 * static_cast<std::uint64_t>(divisor));
  const std::uint64_t tax = whole * static_cast<std::uint64_t>(rate) + rounded;
  if (tax > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  const auto signedTax = static_cast<std::int64_t>(tax);
  return container.turnover < 0 ? -signedTax : signedTax;
}

std::string VerdictText(const ReceiptVerdict& verdict) {
  std::string text;
  if (verdict.receipt) {
    const ReceiptPayload& r = *verdict.receipt;
    text += "date:      " + Dated(r.date, r.time) + "\n";
    text += "operator:  " + Cp1252ToUtf8(r.operatorId) + "\n";
    text += "item hash: " + HexCompact(r.itemHash) + "\n";
    if (r.training) text += "training\n";
    if (r.vatAddon) text += "prices net of VAT\n";
    for (const PayloadContainer& c : r.containers) {
      const Result<std::int64_t> hundredths = ParseInteger(c.rateDigits);
      const std::string rate = hundredths && *hundredths >= 0
                                   ? std::to_string(*hundredths / 100) + "." +
                                         c.rateDigits.substr(c.rateDigits.size() - 2) + " %"
                                   : c.rateDigits;
      const auto tax = ContainerTax(c, r.vatAddon);
      text += "container " + std::to_string(c.number) + ": rate " + rate + ", turnover " +
              Euro(c.turnover) + ", tax " + (tax ? Euro(*tax) : std::string("-")) + "\n";
    }
    text += "card:      " + Cp1252ToUtf8(r.tpId) + " " + std::to_string(r.tpIdNo) + "\n";
    text += "sequence:  " + std::to_string(r.seqNo) + "\n";
  }
  switch (verdict.validity) {
    case Validity::kValid:
      text += "verdict:   VALID\n";
      break;
    case Validity::kInvalid:
      text += "verdict:   INVALID: " + verdict.reason + "\n";
      break;
    case Validity::kUnusable:
      text += "verdict:   UNUSABLE: " + verdict.reason + "\n";
      break;
  }
  return text;
}

}  // namespace kasse
