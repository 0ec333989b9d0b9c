#include "sim/card_crypto.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace kasse::sim {
namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;

constexpr int kCoordinateSize = 24;

Error CryptoError(const char* what) {
  return MakeError(ErrorKind::kCard, std::string("card crypto: ") + what);
}

PkeyPtr NewKey() {
  return PkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "brainpoolP192r1"));
}

template <typename T, typename Encode>
Bytes ToDer(T* object, Encode encode) {
  const int size = encode(object, nullptr);
  if (size <= 0) return {};
  Bytes der(static_cast<std::size_t>(size));
  Byte* out = der.data();
  encode(object, &out);
  return der;
}

bool AddName(X509_NAME* name, const char* field, const std::string& text) {
  return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(text.c_str()), -1, -1,
                                    0) == 1;
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// A certificate for `key`, signed by `signer`; a null issuer makes it self-signed.
X509Ptr MakeCertificate(EVP_PKEY* key, EVP_PKEY* signer, X509* issuer, long serial,
                        const std::string& commonName, const std::string& serialNumber, bool isCa) {
  X509Ptr certificate(X509_new());
  if (!certificate) return nullptr;
  X509* c = certificate.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), 0);
  X509_gmtime_adj(X509_getm_notAfter(c), 20L * 365 * 24 * 3600);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  const bool named = AddName(name, "C", "AT") && AddName(name, "O", "Kasse test cards") &&
                     AddName(name, "CN", commonName) &&
                     (serialNumber.empty() || AddName(name, "serialNumber", serialNumber));
  if (!named) return nullptr;
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  X509* issuerCert = issuer ? issuer : c;
  const bool extended =
      AddExtension(c, issuerCert, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "CA:FALSE") &&
      AddExtension(c, issuerCert, NID_key_usage,
                   isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature") &&
      AddExtension(c, issuerCert, NID_subject_key_identifier, "hash");
  if (!extended || X509_sign(c, signer, EVP_sha256()) <= 0) return nullptr;
  return certificate;
}

}  // namespace

Result<CardKeys> CreateCardKeys(const std::string& tpId, std::uint32_t tpIdNo) {
  PkeyPtr caKey = NewKey();
  PkeyPtr cardKey = NewKey();
  if (!caKey || !cardKey) return CryptoError("cannot create keys");
  X509Ptr ca = MakeCertificate(caKey.get(), caKey.get(), nullptr, 1, "Kasse test CA", "", true);
  if (!ca) return CryptoError("cannot create the CA certificate");
  X509Ptr card = MakeCertificate(cardKey.get(), caKey.get(), ca.get(), tpIdNo + 1000L, tpId,
                                 std::to_string(tpIdNo), false);
  if (!card) return CryptoError("cannot create the card certificate");
  CardKeys keys;
  keys.privateKey = ToDer(cardKey.get(), i2d_PrivateKey);
  keys.certificate = ToDer(card.get(), i2d_X509);
  keys.caCertificate = ToDer(ca.get(), i2d_X509);
  if (keys.privateKey.empty() || keys.certificate.empty() || keys.caCertificate.empty()) {
    return CryptoError("cannot encode keys");
  }
  return keys;
}

Result<Bytes> SignMessage(ByteSpan privateKeyDer, ByteSpan message) {
  const unsigned char* in = privateKeyDer.data();
  PkeyPtr key(d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(privateKeyDer.size())));
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!key || !context) return CryptoError("no private key");
  std::size_t derSize = 0;
  if (EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &derSize, message.data(), message.size()) != 1) {
    return CryptoError("cannot sign");
  }
  Bytes der(derSize);
  if (EVP_DigestSign(context.get(), der.data(), &derSize, message.data(), message.size()) != 1) {
    return CryptoError("cannot sign");
  }
  const unsigned char* derIn = der.data();
  SigPtr signature(d2i_ECDSA_SIG(nullptr, &derIn, static_cast<long>(derSize)));
  if (!signature) return CryptoError("bad signature encoding");
  Bytes out(kSignatureSize);
  if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), out.data(), kCoordinateSize) < 0 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), out.data() + kCoordinateSize,
                   kCoordinateSize) < 0) {
    return CryptoError("signature too long");
  }
  return out;
}

bool VerifyMessage(ByteSpan certificateDer, ByteSpan message, ByteSpan signature) {
  if (signature.size() != kSignatureSize) return false;
  const unsigned char* in = certificateDer.data();
  X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(certificateDer.size())));
  if (!certificate) return false;
  EVP_PKEY* key = X509_get0_pubkey(certificate.get());
  SigPtr ecdsa(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), kCoordinateSize, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + kCoordinateSize, kCoordinateSize, nullptr);
  if (!key || !ecdsa || !r || !s || ECDSA_SIG_set0(ecdsa.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  const Bytes der = ToDer(ecdsa.get(), i2d_ECDSA_SIG);
  MdCtxPtr context(EVP_MD_CTX_new());
  return context && !der.empty() &&
         EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
         EVP_DigestVerify(context.get(), der.data(), der.size(), message.data(), message.size()) ==
             1;
}

}  // namespace kasse::sim
