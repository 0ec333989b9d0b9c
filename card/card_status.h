#pragma once
// What the register knows of its QOR, read at start-up: the card status objects (GET DATA
// 01F1), version level, hash length, algorithms and certificate, as texts.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

struct CardState {
  std::string lifeCycleCode;  // "03"
  std::string LifeCycle;      // "03 - aktiviert"
  std::string Version;
  std::string TpId;
  std::string TpIdNo;
  std::array<std::string, 5> statusItems;  // status items 5 to 9
  int VersionLevel = 0;
  std::string HashLength;
  std::string Algorithms;
  std::string Certificate;  // Base64 of the certificate file
  Bytes LastResponse;       // the data of the last GET DATA the card accepted
};

// The journal's parameter block needs these texts of the card.
struct JournalCardParameters {
  std::string qorVersion;
  std::string tpId;
  std::string tpIdNo;
  std::string certificate;
};

// The state word of a lifecycle code: "fr" French, "uk" English, every other language German.
std::string LifeCycleWord(std::string_view code, std::string_view languageCode);

// 1 for "T.1.1", 2 for "T.2" or "V.2", otherwise 0.
int VersionLevelOf(std::string_view version);

// Fills lifecycle, version, tpId, tpIdNo and status items 5 to 9 from the status data; a D5
// object before the seventh is skipped. kMalformed, at the offset of the object that cannot
// be read, for data that ends before the ninth object; kTooLong for a number over 8 bytes.
Result<CardState> ParseCardStatus(ByteSpan data, std::string_view languageCode);

// Three objects, their values in compact hexadecimal joined by one blank; errors as above.
Result<std::string> ParseAlgorithms(ByteSpan data);

// The status values as the status sheet lists them, in its order; the hash length and the
// algorithms only from version level 2 on.
std::vector<std::string> StatusValues(const CardState& state);

}  // namespace kasse
