#pragma once
// X.509 certificates of the test issuer and of the cards it certifies, DER in and out.
//
// The issuer key is ECDSA P-256 (the card's own curve is fixed by the card, the issuer's is
// not; P-256 is the one every verifier has). Certificates are valid from 2000-01-01: the
// register signs sales under a picked date, and a card certified anew must still cover the
// receipts it signed before, so the start of validity lies before any sale.

#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse::sim {

// A new issuer private key (PKCS#8 DER).
Result<Bytes> NewIssuerKey();

// The issuer's self-signed certificate: CA:TRUE (critical), keyCertSign and cRLSign, valid
// for 60 years; its common name carries a fingerprint of the key, so two users' issuers differ.
Result<Bytes> MakeIssuerCertificate(ByteSpan issuerKeyDer);

// A card certificate for `cardPublicKeyDer` (SubjectPublicKeyInfo): subject CN tpId and
// serialNumber tpIdNo, CA:FALSE, digitalSignature, valid for 30 years (never past the
// issuer's end), a random serial number, signed by the issuer key.
Result<Bytes> MakeCardCertificate(ByteSpan issuerKeyDer, ByteSpan issuerCertificateDer,
                                  ByteSpan cardPublicKeyDer, const std::string& tpId,
                                  std::uint32_t tpIdNo);

// True when the issuer's name and key signed `certificateDer` (a self-signed certificate is
// its own issuer).
bool IsIssuedBy(ByteSpan certificateDer, ByteSpan issuerCertificateDer);
// True when the certificate holds the public half of `privateKeyDer` and the key signs what
// that public half verifies.
bool CertifiesKey(ByteSpan certificateDer, ByteSpan privateKeyDer);
// True when the subject names exactly this card.
bool NamesCard(ByteSpan certificateDer, const std::string& tpId, std::uint32_t tpIdNo);

}  // namespace kasse::sim
