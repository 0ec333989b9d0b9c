#pragma once
// Issuers, card keys and card certificates made with OpenSSL for a test: a trusted issuer, a
// look-alike card that names itself like a genuine one, an expired or wrongly issued
// certificate.

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "common/bytes.h"

namespace kasse::testing {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

inline KeyPtr NewCardKey() {
  return KeyPtr(EVP_EC_gen("brainpoolP192r1"));
}

// r and s of 24 bytes each, as the card signs.
inline Bytes SignAsCard(EVP_PKEY* key, ByteSpan message) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key);
  std::size_t length = 0;
  EVP_DigestSign(context, nullptr, &length, message.data(), message.size());
  Bytes der(length);
  EVP_DigestSign(context, der.data(), &length, message.data(), message.size());
  EVP_MD_CTX_free(context);
  const unsigned char* cursor = der.data();
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length));
  Bytes rs(48);
  BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs.data(), 24);
  BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs.data() + 24, 24);
  ECDSA_SIG_free(sig);
  return rs;
}

struct CertificateSpec {
  std::string commonName, serialNumber;
  long validFrom = -3600, validTo = 3600;  // seconds from now
  const char* basicConstraints = "CA:FALSE";
  const char* keyUsage = "critical,digitalSignature";
};

// A certificate for `key` signed by `signerKey` under the issuer name of `issuer` (null:
// self-signed).
inline Bytes MakeCertificate(EVP_PKEY* key, EVP_PKEY* signerKey, X509* issuer,
                             const CertificateSpec& spec) {
  X509* c = X509_new();
  X509_set_version(c, 2);
  static long serial = 100;
  ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(c), spec.validFrom);
  X509_gmtime_adj(X509_getm_notAfter(c), spec.validTo);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  const auto add = [name](const char* field, const std::string& text) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(text.c_str()), -1, -1, 0);
  };
  if (!spec.commonName.empty()) add("CN", spec.commonName);
  if (!spec.serialNumber.empty()) add("serialNumber", spec.serialNumber);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  const auto extend = [c, issuer](int nid, const char* value) {
    if (value == nullptr) return;
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuer : c, c, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(c, extension, -1);
    X509_EXTENSION_free(extension);
  };
  extend(NID_basic_constraints, spec.basicConstraints);
  extend(NID_key_usage, spec.keyUsage);
  X509_sign(c, signerKey, EVP_sha256());
  unsigned char* der = nullptr;
  const int length = i2d_X509(c, &der);
  Bytes bytes(der, der + length);
  OPENSSL_free(der);
  X509_free(c);
  return bytes;
}

// An issuer: a key and a self-signed CA certificate; it issues card certificates.
class TestIssuer {
 public:
  explicit TestIssuer(std::string name = "Kasse test CA",
                      const char* basicConstraints = "critical,CA:TRUE",
                      const char* keyUsage = "critical,keyCertSign,cRLSign")
      : key_(NewCardKey()) {
    certificate_ = MakeCertificate(key_.get(), key_.get(), nullptr,
                                   {name, "", -3600, 86400, basicConstraints, keyUsage});
    const unsigned char* cursor = certificate_.data();
    x509_ = d2i_X509(nullptr, &cursor, static_cast<long>(certificate_.size()));
  }
  ~TestIssuer() { X509_free(x509_); }
  TestIssuer(const TestIssuer&) = delete;
  TestIssuer& operator=(const TestIssuer&) = delete;

  const Bytes& Certificate() const { return certificate_; }
  Bytes Issue(EVP_PKEY* cardKey, const CertificateSpec& spec) const {
    return MakeCertificate(cardKey, key_.get(), x509_, spec);
  }

 private:
  KeyPtr key_;
  X509* x509_ = nullptr;
  Bytes certificate_;
};

}  // namespace kasse::testing
