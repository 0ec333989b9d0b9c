#include "sim/certificate_maker.h"

#include <openssl/bn.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "common/hex_text.h"
#include "common/sha.h"
#include "sim/openssl_handles.h"

namespace kasse::sim {
namespace {

using ExtensionHandle = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;
using NumberHandle = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using DigestHandle = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;

constexpr std::time_t kValidFrom = 946'684'800;  // 2000-01-01 00:00:00 UTC
constexpr long kIssuerDays = 60L * 365;
constexpr long kCardDays = 30L * 365;

Error CertificateError(const char* what) {
  return MakeError(ErrorKind::kCard, std::string("test issuer: ") + what);
}

bool AddName(X509_NAME* name, const char* field, const std::string& text) {
  return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(text.c_str()), -1, -1,
                                    0) == 1;
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  ExtensionHandle extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// Version 3, a random positive 63-bit serial (a card certified twice gets two), the validity,
// the subject key. Serial numbers stay unique per issuer without a register of them.
CertificateHandle NewCertificate(EVP_PKEY* subjectKey, long days) {
  CertificateHandle certificate(X509_new());
  NumberHandle serial(BN_new());
  if (!certificate || !serial) return nullptr;
  X509* c = certificate.get();
  const bool ok =
      X509_set_version(c, 2) == 1 && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, 0) == 1 &&
      BN_add_word(serial.get(), 1) == 1 &&
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(c)) != nullptr &&
      ASN1_TIME_set(X509_getm_notBefore(c), kValidFrom) != nullptr &&
      X509_time_adj_ex(X509_getm_notAfter(c), static_cast<int>(days), 0, nullptr) != nullptr &&
      X509_set_pubkey(c, subjectKey) == 1;
  if (!ok) return nullptr;
  return certificate;
}

std::string KeyFingerprint(EVP_PKEY* key) {
  const Bytes publicKey = EncodeDer(key, i2d_PUBKEY);
  const Sha256Digest digest = Sha256(publicKey);
  return HexCompact(ByteSpan(digest).first(4));
}

std::string NameText(X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0 || X509_NAME_get_index_by_NID(name, nid, index) >= 0) return {};
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                     static_cast<std::size_t>(ASN1_STRING_length(data)));
}

// One signature made with the private key and checked with the public one: a key file whose
// private half was damaged may still carry the right public half, and would sign nothing valid.
bool SignsFor(EVP_PKEY* privateKey, EVP_PKEY* publicKey) {
  static constexpr unsigned char kProbe[] = "a signature to try the key";
  DigestHandle signer(EVP_MD_CTX_new());
  DigestHandle verifier(EVP_MD_CTX_new());
  std::size_t size = 0;
  if (!signer || !verifier ||
      EVP_DigestSignInit(signer.get(), nullptr, EVP_sha256(), nullptr, privateKey) != 1 ||
      EVP_DigestSign(signer.get(), nullptr, &size, kProbe, sizeof kProbe) != 1) {
    return false;
  }
  Bytes signature(size);
  return EVP_DigestSign(signer.get(), signature.data(), &size, kProbe, sizeof kProbe) == 1 &&
         EVP_DigestVerifyInit(verifier.get(), nullptr, EVP_sha256(), nullptr, publicKey) == 1 &&
         EVP_DigestVerify(verifier.get(), signature.data(), size, kProbe, sizeof kProbe) == 1;
}

}  // namespace

Result<Bytes> NewIssuerKey() {
  KeyHandle key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  const Bytes der = key ? EncodeDer(key.get(), i2d_PrivateKey) : Bytes{};
  if (der.empty()) return CertificateError("cannot create the issuer key");
  return der;
}

Result<Bytes> MakeIssuerCertificate(ByteSpan issuerKeyDer) {
  KeyHandle key = DecodePrivateKey(issuerKeyDer);
  if (!key) return CertificateError("the issuer key is damaged");
  CertificateHandle certificate = NewCertificate(key.get(), kIssuerDays);
  if (!certificate) return CertificateError("cannot create the issuer certificate");
  X509* c = certificate.get();
  X509_NAME* name = X509_get_subject_name(c);
  const bool made = AddName(name, "C", "AT") && AddName(name, "O", "Kasse test cards") &&
                    AddName(name, "CN", "Kasse test issuer " + KeyFingerprint(key.get())) &&
                    X509_set_issuer_name(c, name) == 1 &&
                    AddExtension(c, c, NID_basic_constraints, "critical,CA:TRUE") &&
                    AddExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign") &&
                    AddExtension(c, c, NID_subject_key_identifier, "hash") &&
                    X509_sign(c, key.get(), EVP_sha256()) > 0;
  const Bytes der = made ? EncodeDer(c, i2d_X509) : Bytes{};
  if (der.empty()) return CertificateError("cannot create the issuer certificate");
  return der;
}

Result<Bytes> MakeCardCertificate(ByteSpan issuerKeyDer, ByteSpan issuerCertificateDer,
                                  ByteSpan cardPublicKeyDer, const std::string& tpId,
                                  std::uint32_t tpIdNo) {
  KeyHandle issuerKey = DecodePrivateKey(issuerKeyDer);
  CertificateHandle issuer = DecodeCertificate(issuerCertificateDer);
  KeyHandle cardKey = DecodePublicKey(cardPublicKeyDer);
  if (!issuerKey || !issuer || !cardKey) return CertificateError("cannot read the keys");
  CertificateHandle certificate = NewCertificate(cardKey.get(), kCardDays);
  if (!certificate) return CertificateError("cannot create the card certificate");
  X509* c = certificate.get();
  // A card outliving its issuer would hold a certificate no chain accepts at its end.
  if (ASN1_TIME_compare(X509_get0_notAfter(c), X509_get0_notAfter(issuer.get())) > 0 &&
      X509_set1_notAfter(c, X509_get0_notAfter(issuer.get())) != 1) {
    return CertificateError("cannot create the card certificate");
  }
  X509_NAME* name = X509_get_subject_name(c);
  const bool made = AddName(name, "C", "AT") && AddName(name, "O", "Kasse test cards") &&
                    AddName(name, "CN", tpId) &&
                    AddName(name, "serialNumber", std::to_string(tpIdNo)) &&
                    X509_set_issuer_name(c, X509_get_subject_name(issuer.get())) == 1 &&
                    AddExtension(c, issuer.get(), NID_basic_constraints, "CA:FALSE") &&
                    AddExtension(c, issuer.get(), NID_key_usage, "critical,digitalSignature") &&
                    AddExtension(c, issuer.get(), NID_subject_key_identifier, "hash") &&
                    AddExtension(c, issuer.get(), NID_authority_key_identifier, "keyid:always") &&
                    X509_sign(c, issuerKey.get(), EVP_sha256()) > 0;
  const Bytes der = made ? EncodeDer(c, i2d_X509) : Bytes{};
  if (der.empty()) return CertificateError("cannot create the card certificate");
  return der;
}

bool IsIssuedBy(ByteSpan certificateDer, ByteSpan issuerCertificateDer) {
  CertificateHandle certificate = DecodeCertificate(certificateDer);
  CertificateHandle issuer = DecodeCertificate(issuerCertificateDer);
  return certificate && issuer && X509_check_issued(issuer.get(), certificate.get()) == X509_V_OK &&
         X509_verify(certificate.get(), X509_get0_pubkey(issuer.get())) == 1;
}

bool CertifiesKey(ByteSpan certificateDer, ByteSpan privateKeyDer) {
  CertificateHandle certificate = DecodeCertificate(certificateDer);
  KeyHandle key = DecodePrivateKey(privateKeyDer);
  EVP_PKEY* publicKey = certificate ? X509_get0_pubkey(certificate.get()) : nullptr;
  return publicKey && key && EVP_PKEY_eq(publicKey, key.get()) == 1 &&
         SignsFor(key.get(), publicKey);
}

bool NamesCard(ByteSpan certificateDer, const std::string& tpId, std::uint32_t tpIdNo) {
  CertificateHandle certificate = DecodeCertificate(certificateDer);
  if (!certificate) return false;
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  return NameText(subject, NID_commonName) == tpId &&
         NameText(subject, NID_serialNumber) == std::to_string(tpIdNo);
}

}  // namespace kasse::sim
