#pragma once
// Checks a card signature against the card's X.509 certificate: ECDSA with SHA-256, the
// signature given as r and s of equal length, big-endian.

#include <string>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

struct CertificateInfo {
  std::string subject;  // one line, as OpenSSL prints it
  std::string issuer;
  std::string curve;  // "brainpoolP192r1"
};

Result<CertificateInfo> ReadCertificate(ByteSpan certificateDer);

// true: valid; false: the signature does not match; an error: unusable certificate or
// signature.
Result<bool> CheckCardSignature(ByteSpan certificateDer, ByteSpan message, ByteSpan signature);

}  // namespace kasse
