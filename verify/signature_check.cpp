#include "verify/signature_check.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "verify/card_certificate.h"

namespace kasse {

Result<CertificateInfo> ReadCertificate(ByteSpan certificateDer) {
  auto certificate = ParsedCertificate::FromDer(certificateDer);
  if (!certificate) return certificate.error();
  CertificateInfo info;
  info.subject = (*certificate)->Subject();
  char issuer[512];
  X509_NAME_oneline(X509_get_issuer_name((*certificate)->X509Object()), issuer, sizeof issuer);
  info.issuer = issuer;
  EVP_PKEY* key = (*certificate)->Key();
  char curve[80] = {};
  std::size_t length = 0;
  if (key != nullptr && EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof curve, &length))
    info.curve = curve;
  return info;
}

Result<bool> CheckCardSignature(ByteSpan certificateDer, ByteSpan message, ByteSpan signature) {
  auto certificate = ParsedCertificate::FromDer(certificateDer);
  if (!certificate) return certificate.error();
  return CheckSignatureWithKey((*certificate)->Key(), message, signature);
}

}  // namespace kasse
