#pragma once
// The tags of the card's data elements: in the TRANSACTION record the register builds, in the
// card's answers and reports, in the QR payload and in the simulated card. One byte each.

#include "common/bytes.h"

namespace kasse::tag {

// The card's identity and state (GET DATA, report answers).
inline constexpr Byte kAlgorithm = 0x06;   // an algorithm's object identifier
inline constexpr Byte kHashLength = 0xC0;  // the length of the item-list hash
inline constexpr Byte kLifecycle = 0xC1;
inline constexpr Byte kVersion = 0xC2;
inline constexpr Byte kPin = 0xC3;
inline constexpr Byte kTpId = 0xC4;
inline constexpr Byte kTpIdNo = 0xC5;
inline constexpr Byte kKeyDigest = 0xCF;
inline constexpr Byte kPinTries = 0xD5;

// The transaction record.
inline constexpr Byte kOperator = 0xC6;
inline constexpr Byte kItemHash = 0xC7;
inline constexpr Byte kCurrency = 0xC8;
inline constexpr Byte kVatAddon = 0xC9;  // flag: prices are net
inline constexpr Byte kTraining = 0xCA;  // flag
inline constexpr Byte kDate = 0xCD;
inline constexpr Byte kTime = 0xCE;
inline constexpr Byte kDeliveryNote = 0xD7;  // flag

// Sequence numbers and months.
inline constexpr Byte kTransactionSeq = 0xCB;
inline constexpr Byte kReportSeq = 0xCC;
inline constexpr Byte kFirstMonth = 0xD0;
inline constexpr Byte kLastMonth = 0xD1;
inline constexpr Byte kDayFirstTransaction = 0xD2;
inline constexpr Byte kDayLastTransaction = 0xD3;
inline constexpr Byte kMonthOffsets = 0xD4;

// Inside a container.
inline constexpr Byte kTurnoverThirdParty = 0xD6;
inline constexpr Byte kTurnover = 0xD8;
inline constexpr Byte kTurnoverNeg = 0xD9;
inline constexpr Byte kVat = 0xDA;
inline constexpr Byte kRate = 0xDB;
inline constexpr Byte kCount = 0xDC;
inline constexpr Byte kOverflow = 0xDD;   // flag
inline constexpr Byte kVatChange = 0xDE;  // flag

// Containers: VAT containers 1 to 6, then third-party, delivery-note and training sales.
inline constexpr Byte kVatContainerFirst = 0xE1;
inline constexpr Byte kVatContainerLast = 0xE6;
inline constexpr Byte kThirdPartyContainer = 0xE7;
inline constexpr Byte kDeliveryNoteContainer = 0xE8;
inline constexpr Byte kTrainingContainer = 0xE9;

// The card's signature and, on a debug card, the hash it signed.
inline constexpr Byte kSignature = 0x9E;
inline constexpr Byte kDebugHash = 0x9A;

// VAT container 1 to 6.
constexpr Byte VatContainer(int number) {
  return static_cast<Byte>(kVatContainerFirst - 1 + number);
}
constexpr bool IsVatContainer(Byte tag) {
  return tag >= kVatContainerFirst && tag <= kVatContainerLast;
}
// The number (1 to 6) of a VAT container's tag.
constexpr int VatContainerNumber(Byte tag) {
  return tag - kVatContainerFirst + 1;
}

}  // namespace kasse::tag
