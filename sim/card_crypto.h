#pragma once
// The card's keys: ECDSA over brainpoolP192r1 with SHA-256, signatures as r and s of 24
// bytes each (48 bytes, big-endian), certified by the test issuer.

#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "common/result.h"
#include "sim/test_issuer.h"

namespace kasse::sim {

inline constexpr std::size_t kSignatureSize = 48;

struct CardKeys {
  Bytes privateKey;     // DER, never leaves the engine
  Bytes certificate;    // X.509 DER of the card key, signed by the issuer
  Bytes caCertificate;  // the issuer's
};

// A new card key and its certificate from `issuer`, naming tpId and tpIdNo.
Result<CardKeys> CreateCardKeys(const TestIssuer& issuer, const std::string& tpId,
                                std::uint32_t tpIdNo);
// The public half of a card key (SubjectPublicKeyInfo DER), to certify it anew.
Result<Bytes> PublicKeyOf(ByteSpan privateKeyDer);

Result<Bytes> SignMessage(ByteSpan privateKeyDer, ByteSpan message);

// True only for a 48-byte signature of message under the certificate's public key.
bool VerifyMessage(ByteSpan certificateDer, ByteSpan message, ByteSpan signature);

}  // namespace kasse::sim
