#include "sim/card_crypto.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "sim/openssl_handles.h"

namespace kasse::sim {
namespace {

using PkeyPtr = KeyHandle;
using X509Ptr = CertificateHandle;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, OpenSslFree<ECDSA_SIG_free>>;

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

}  // namespace

Result<CardKeys> CreateCardKeys(const TestIssuer& issuer, const std::string& tpId,
                                std::uint32_t tpIdNo) {
  PkeyPtr cardKey = NewKey();
  if (!cardKey) return CryptoError("cannot create keys");
  CardKeys keys;
  keys.privateKey = ToDer(cardKey.get(), i2d_PrivateKey);
  if (keys.privateKey.empty()) return CryptoError("cannot encode keys");
  auto certificate = issuer.Certify(ToDer(cardKey.get(), i2d_PUBKEY), tpId, tpIdNo);
  if (!certificate) return certificate.error();
  keys.certificate = std::move(certificate.value());
  keys.caCertificate = issuer.Certificate();
  return keys;
}

Result<Bytes> PublicKeyOf(ByteSpan privateKeyDer) {
  const unsigned char* in = privateKeyDer.data();
  PkeyPtr key(d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(privateKeyDer.size())));
  const Bytes der = key ? ToDer(key.get(), i2d_PUBKEY) : Bytes{};
  if (der.empty()) return CryptoError("the card key is damaged");
  return der;
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
