#pragma once
// The issuers the verifier trusts, and the check that a card certificate was issued by one of
// them: the issuer's signature on it, both validity periods, the issuer's CA flag and its key
// usage for signing certificates, and the card certificate's key usage for signatures.

#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "verify/card_certificate.h"

namespace kasse {

class TrustStore {
 public:
  // Adds an issuer certificate (DER); an unreadable one is an error naming why.
  Result<void> Add(ByteSpan der);
  bool Empty() const { return issuers_.empty(); }
  std::size_t Size() const { return issuers_.size(); }

  // Empty when a trusted issuer vouches for the card certificate; otherwise what failed, naming
  // the certificate's subject. `now` in seconds since the epoch (0: the clock's).
  std::string ChainProblem(const ParsedCertificate& card, std::int64_t now = 0) const;

 private:
  std::vector<std::shared_ptr<const ParsedCertificate>> issuers_;
};

}  // namespace kasse
