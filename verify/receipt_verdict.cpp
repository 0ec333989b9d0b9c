#include "verify/receipt_verdict.h"

#include "common/amount.h"
#include "common/cp1252.h"
#include "common/hex_text.h"
#include "verify/signature_check.h"

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

ReceiptVerdict VerifyReceiptUrl(std::string_view urlOrT1, ByteSpan certificateDer) {
  ReceiptVerdict verdict;
  auto payload = PayloadOfUrl(urlOrT1);
  if (!payload) {
    verdict.reason = payload.error().message;
    return verdict;
  }
  auto receipt = DecodeReceiptPayload(*payload);
  if (!receipt) {
    verdict.validity = Validity::kInvalid;
    verdict.reason =
        receipt.error().message + " (byte " + std::to_string(receipt.error().offset) + ")";
    return verdict;
  }
  verdict.receipt = *receipt;
  if (certificateDer.empty()) {
    verdict.reason = "no card certificate to check the signature with";
    return verdict;
  }
  auto valid = CheckCardSignature(certificateDer, receipt->signedMessage, receipt->signature);
  if (!valid) {
    verdict.reason = valid.error().message;
  } else if (*valid) {
    verdict.validity = Validity::kValid;
  } else {
    verdict.validity = Validity::kInvalid;
    verdict.reason = "the signature does not match the signed data";
  }
  return verdict;
}

std::int64_t ContainerTax(const PayloadContainer& container, bool vatAddon) {
  std::int64_t rate = 0;
  ParseInteger(container.rateDigits, rate);
  const double fraction = static_cast<double>(rate) / 10000.0;
  const auto turnover = static_cast<double>(container.turnover);
  return RoundCommercial(vatAddon ? turnover * fraction
                                  : turnover * (1.0 - 1.0 / (1.0 + fraction)));
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
      std::int64_t hundredths = 0;
      const std::string rate = ParseInteger(c.rateDigits, hundredths) && hundredths >= 0
                                   ? std::to_string(hundredths / 100) + "." +
                                         c.rateDigits.substr(c.rateDigits.size() - 2) + " %"
                                   : c.rateDigits;
      text += "container " + std::to_string(c.number) + ": rate " + rate + ", turnover " +
              Euro(c.turnover) + ", tax " + Euro(ContainerTax(c, r.vatAddon)) + "\n";
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
