#pragma once
// The user's test issuer: the CA that certifies every simulated card, so a verifier can trust
// one certificate instead of whatever a journal carries, and the keeper of card numbers, so
// two new cards never share a name and number.
//
// Kept in a folder (by default the user's state folder) as test-issuer.der (certificate),
// test-issuer.key (private key, 0600) and test-issuer.serial (the last card number given),
// made on first use. A lock file, test-issuer.lock, serialises processes: two that start at
// once make one issuer, and each card number is given once.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/file_io.h"
#include "common/result.h"
#include "sim/notice.h"

namespace kasse::sim {

class TestIssuer {
 public:
  // The issuer kept in `folder` (made, with the folder, when missing; the folder 0700); empty:
  // the user's state folder. Every write goes through `io`, which must outlive the issuer.
  // Temporary files of a write cut short are removed and said on `notice`. An issuer whose
  // certificate is not its own (self-signed with its key) is refused, never replaced.
  static Result<TestIssuer> Open(const std::filesystem::path& folder, FileIo& io = PosixFileIo(),
                                 const NoticeSink& notice = {});
  // An issuer in memory only, for cards that are themselves in memory only.
  static Result<TestIssuer> ThrowAway();

  // The issuer certificate (X.509 DER), the anchor a verifier trusts.
  const Bytes& Certificate() const { return certificate_; }

  // The next free card number: one more than any number given or reserved before.
  Result<std::uint32_t> NextCardNumber();
  // Marks `number` as given (a number fixed by the caller, or a card certified anew), so
  // NextCardNumber never gives it again.
  Result<void> Reserve(std::uint32_t number);

  // A certificate for the card key (SubjectPublicKeyInfo DER) naming tpId and tpIdNo.
  Result<Bytes> Certify(ByteSpan cardPublicKeyDer, const std::string& tpId,
                        std::uint32_t tpIdNo) const;
  // True when this issuer signed `certificateDer`.
  bool Issued(ByteSpan certificateDer) const;

 private:
  TestIssuer() = default;
  // Under the lock: `fixed` (raising the last number given to it) or the next free number.
  Result<std::uint32_t> Take(std::optional<std::uint32_t> fixed);

  std::filesystem::path folder_;  // empty for a throw-away issuer
  FileIo* io_ = &PosixFileIo();
  Bytes key_;
  Bytes certificate_;
  std::uint32_t lastNumber_ = 0;  // throw-away issuers count in memory
};

}  // namespace kasse::sim
