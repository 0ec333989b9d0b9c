#include <algorithm>
#include <array>
#include <ctime>

#include "common/card_tags.h"
#include "common/sha.h"
#include "sim/card_core.h"
#include "sim/tlv.h"

namespace kasse::sim {
namespace {

constexpr std::array<Byte, 8> kApplicationId = {0xD2, 0x76, 0x00, 0x01, 0x48, 0x51, 0x4F, 0x52};
constexpr std::array<Byte, 2> kCertificateFile = {0x11, 0x10};
// Chained hash data beyond this is refused rather than held without bound.
constexpr std::size_t kHashLimit = 64 * 1024;
// ISO/IEC 7816-4 short answer: at most 256 data bytes (Le 00).
constexpr std::size_t kMaxAnswerData = 256;

// Object identifiers: SHA-1, ecdsa-with-SHA256, brainpoolP192r1.
constexpr std::array<Byte, 5> kSha1Oid = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr std::array<Byte, 8> kEcdsaSha256Oid = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};
constexpr std::array<Byte, 9> kBrainpoolOid = {0x2B, 0x24, 0x03, 0x03, 0x02,
                                               0x08, 0x01, 0x01, 0x03};

bool Equal(ByteSpan a, ByteSpan b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

int CurrentMonth() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!::localtime_r(&now, &local)) return 0;
  return (local.tm_year + 1900) * 100 + local.tm_mon + 1;
}

Bytes CardCore::Select(const Apdu& apdu) {
  if (apdu.p1 == 0x04 && (apdu.p2 == 0x00 || apdu.p2 == 0x0C)) {
    if (!Equal(apdu.data, kApplicationId)) return Answer(kSwNotFound);
    session_.applicationSelected = true;
    session_.certificateSelected = false;
    return Answer(kSwOk);
  }
  if ((apdu.p1 == 0x00 || apdu.p1 == 0x02) && (apdu.p2 == 0x00 || apdu.p2 == 0x0C)) {
    if (!session_.applicationSelected || !Equal(apdu.data, kCertificateFile)) {
      return Answer(kSwNotFound);
    }
    session_.certificateSelected = true;
    return Answer(kSwOk);
  }
  return Answer(kSwWrongP1P2);
}

// ISO/IEC 7816-4 READ BINARY: P1 P2 = offset (bit 8 of P1 clear), Le = bytes wanted.
Bytes CardCore::ReadBinary(const Apdu& apdu) const {
  if (!apdu.data.empty() || !apdu.le) return Answer(kSwWrongLength);
  if (!session_.certificateSelected) return Answer(kSwConditions);
  if (apdu.p1 & 0x80) return Answer(kSwWrongP1P2);
  const std::size_t offset = (std::size_t{apdu.p1} << 8) | apdu.p2;
  const Bytes& file = keys_.certificate;
  if (offset >= file.size()) return Answer(kSwOutOfRange);
  const std::size_t count = std::min(*apdu.le, file.size() - offset);
  const auto first = file.begin() + static_cast<std::ptrdiff_t>(offset);
  return Answer(Bytes(first, first + static_cast<std::ptrdiff_t>(count)),
                count < *apdu.le ? kSwEndOfFile : kSwOk);
}

Bytes CardCore::GetData(const Apdu& apdu) const {
  if (!apdu.data.empty()) return Answer(kSwWrongLength);
  const int object = (apdu.p1 << 8) | apdu.p2;
  Bytes out;
  const CardState& s = state_;
  if (object == 0x01F1) {
    const Byte lifecycle[] = {s.lifecycle};
    AppendElement(out, tag::kLifecycle, lifecycle);
    AppendElement(out, tag::kVersion, ToBytes(options_.versionLevel == 1 ? "T.1.1" : "T.2.0"));
    AppendIdentity(out);
    const Sha256Digest keyDigest = Sha256(keys_.certificate);
    AppendElement(out, tag::kKeyDigest, ByteSpan(keyDigest).first(8));
    AppendUint32(out, tag::kTransactionSeq, s.transactionSeq);
    if (s.lifecycle == 0x02) {
      const Byte tries[] = {static_cast<Byte>(s.pinTriesLeft)};
      AppendElement(out, tag::kPinTries, tries);
    }
    AppendElement(out, tag::kFirstMonth, PackMonth(s.firstMonth));
    AppendUint32(out, tag::kReportSeq, s.reportSeq);
    AppendUint32(out, tag::kCount, s.dayFirstSeq == 0 ? 0 : s.dayLastSeq - s.dayFirstSeq + 1);
    return Answer(out);
  }
  if (object == 0x01F2) return BookedMonths();
  // Version-1 cards know neither the hash length nor the algorithm list.
  if (object == 0x01F3 && options_.versionLevel >= 2) {
    const Byte length[] = {20};
    AppendElement(out, tag::kHashLength, length);
    return Answer(out);
  }
  if (object == 0x01F4 && options_.versionLevel >= 2) {
    AppendElement(out, tag::kAlgorithm, kSha1Oid);
    AppendElement(out, tag::kAlgorithm, kEcdsaSha256Oid);
    AppendElement(out, tag::kAlgorithm, kBrainpoolOid);
    return Answer(out);
  }
  return Answer(kSwDataNotFound);
}

// D0 the first month, D4 one offset byte per booked month. A month more than 255 months after
// the first (the application clock set far back or ahead), or more months than one short
// answer carries, cannot be listed: the card refuses rather than leave a booked month out. The
// span report still sums every month.
Bytes CardCore::BookedMonths() const {
  const CardState& s = state_;
  Bytes out;
  AppendElement(out, tag::kFirstMonth, PackMonth(s.firstMonth));
  Bytes offsets;
  for (const auto& [month, totals] : s.months) {
    const int offset = s.firstMonth == 0 ? -1 : MonthsBetween(s.firstMonth, month);
    if (offset < 0 || offset > 255) return Answer(kSwDataNotUsable);
    offsets.push_back(static_cast<Byte>(offset));
  }
  if (out.size() + 2 + offsets.size() > kMaxAnswerData) return Answer(kSwDataNotUsable);
  AppendElement(out, tag::kMonthOffsets, offsets);
  return Answer(out);
}

// ISO/IEC 7816-4 PERFORM SECURITY OPERATION, hash (P1 P2 = 90 80); CLA 10 chains the blocks.
Bytes CardCore::Hash(const Apdu& apdu) {
  if (apdu.p1 != 0x90 || apdu.p2 != 0x80) return Answer(kSwWrongP1P2);
  if (session_.hashData.size() + apdu.data.size() > kHashLimit) {
    session_.hashData.clear();
    return Answer(kSwNoSpace);
  }
  session_.hashData.insert(session_.hashData.end(), apdu.data.begin(), apdu.data.end());
  if (apdu.cla & 0x10) return Answer(kSwOk);
  const Sha1Digest digest = Sha1(session_.hashData);
  session_.hashData.clear();
  return Answer(Bytes(digest.begin(), digest.end()));
}

}  // namespace kasse::sim
