#pragma once
// What a transaction or a report did at the card, and what it adds to the receipt, handed back
// as one value. The signing exchange and the reports write the journal and the monitors; the
// receipt, its security text and the QR payload belong to the register, which applies this
// value once, and only once the answer's journal records are on the disk.

#include <cstdint>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/result.h"
#include "common/sha.h"

namespace kasse {

inline constexpr std::uint32_t kReceiptFailed = 0x3366FF;    // orange-red
inline constexpr std::uint32_t kReceiptVerified = 0xD7F1E7;  // pale green

struct ReceiptParts {
  // The item list's hash, shown as text when the receipt's "Text" option asks for it.
  std::optional<Sha1Digest> itemHash;
  // The answer's signature, when the card answered (empty: it gave none).
  std::optional<Bytes> signature;
  // Reports show their signature whatever the option says.
  bool signatureAlways = false;
  // Record fields and the card's answer, as lines for the receipt (CR LF before each).
  std::string responseText;
  // The command data, then the answer: what the QR code carries.
  Bytes qrPayload;
  // The receipt's new colour (0x00BBGGRR), when the exchange gives it one.
  std::optional<std::uint32_t> colour;
};

enum class CardStage {
  kNotSent,     // refused before the card was asked (too large, the journal failed)
  kUnanswered,  // no answer within the patience: the request waits in the journal
  kRejected,    // the answer repeated a number already journalled: a card fault, no receipt
  kRefused,     // a status word or an unreadable answer: finished without a signature
  kSigned,      // answered and signed
};

struct CardOutcome {
  CardStage stage = CardStage::kNotSent;
  // The operation as the card monitor heads it ("REPORT signed"); reports only.
  std::string heading;
  ReceiptParts receipt;
  // Signed, but the answer's journal records are held in memory: nothing of the receipt may
  // leave until they are on the disk.
  bool recordsHeld = false;
  // What went wrong, when anything did (also beside a signature: a failed verification).
  std::optional<Error> error;
  // The journal's own error, when writing the journal is what failed (the request before the
  // card was asked, or the answer after it signed).
  std::optional<Error> journalFailure;

  bool Sent() const { return stage != CardStage::kNotSent; }
  // The sale or report is finished: its receipt is made (or held until its records are
  // written).
  bool Finished() const { return stage == CardStage::kRefused || stage == CardStage::kSigned; }
  Result<void> Status() const {
    if (error) return *error;
    return {};
  }
};

inline CardOutcome NotSent(Error error, std::optional<Error> journalFailure = std::nullopt) {
  CardOutcome outcome;
  outcome.error = std::move(error);
  outcome.journalFailure = std::move(journalFailure);
  return outcome;
}

}  // namespace kasse
