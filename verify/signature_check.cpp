#include "verify/signature_check.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>

namespace kasse {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

X509Ptr ParseCertificate(ByteSpan der) {
  const unsigned char* cursor = der.data();
  X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  return certificate;
}

std::string NameLine(const X509_NAME* name) {
  char buffer[512];
  X509_NAME_oneline(name, buffer, sizeof buffer);
  return buffer;
}

}  // namespace

Result<CertificateInfo> ReadCertificate(ByteSpan certificateDer) {
  X509Ptr certificate = ParseCertificate(certificateDer);
  if (!certificate) return MakeError(ErrorKind::kMalformed, "not an X.509 certificate");
  CertificateInfo info;
  info.subject = NameLine(X509_get_subject_name(certificate.get()));
  info.issuer = NameLine(X509_get_issuer_name(certificate.get()));
  EVP_PKEY* key = X509_get0_pubkey(certificate.get());
  char curve[80] = {};
  std::size_t length = 0;
  if (key != nullptr && EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof curve, &length))
    info.curve = curve;
  return info;
}

Result<bool> CheckCardSignature(ByteSpan certificateDer, ByteSpan message, ByteSpan signature) {
  X509Ptr certificate = ParseCertificate(certificateDer);
  if (!certificate) return MakeError(ErrorKind::kMalformed, "not an X.509 certificate");
  EVP_PKEY* key = X509_get0_pubkey(certificate.get());
  if (key == nullptr || EVP_PKEY_base_id(key) != EVP_PKEY_EC)
    return MakeError(ErrorKind::kUnusableInput, "the certificate holds no elliptic-curve key");
  if (signature.empty() || signature.size() % 2 != 0 || signature.size() > 132)
    return MakeError(ErrorKind::kMalformed, "signature: r and s of equal length expected");
  const int half = static_cast<int>(signature.size() / 2);
  SigPtr sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), half, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + half, half, nullptr);
  if (!sig || r == nullptr || s == nullptr || !ECDSA_SIG_set0(sig.get(), r, s)) {
    BN_free(r);
    BN_free(s);
    return MakeError(ErrorKind::kUnusableInput, "signature: cannot be read");
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
  if (derLength <= 0) return MakeError(ErrorKind::kUnusableInput, "signature: cannot be encoded");
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
      der, [](unsigned char* p) { OPENSSL_free(p); });
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1)
    return MakeError(ErrorKind::kUnusableInput, "the certificate's key cannot verify");
  const int verdict = EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derLength),
                                       message.data(), message.size());
  return verdict == 1;
}

}  // namespace kasse
