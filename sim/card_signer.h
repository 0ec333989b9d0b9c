#pragma once
// The card's key as OpenSSL objects made once when the card loads: decoding the key, fetching
// the digest and setting up the group on every signature cost more than the signature itself.

#include <memory>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse::sim {

class CardSigner {
 public:
  // From the private key in DER (as CardKeys holds it).
  static Result<CardSigner> FromDer(ByteSpan privateKeyDer);
  CardSigner(CardSigner&&) noexcept;
  CardSigner& operator=(CardSigner&&) noexcept;
  ~CardSigner();

  // ECDSA with SHA-256: r and s of 24 bytes each.
  Result<Bytes> Sign(ByteSpan message) const;
  // True only for a 48-byte signature of message under this key.
  bool Verify(ByteSpan message, ByteSpan signature) const;

 private:
  struct Objects;
  explicit CardSigner(std::unique_ptr<Objects> objects);
  std::unique_ptr<Objects> objects_;
};

}  // namespace kasse::sim
