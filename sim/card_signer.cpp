#include "sim/card_signer.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "sim/card_crypto.h"

namespace kasse::sim {
namespace {

constexpr int kCoordinateSize = 24;

Error SignerError(const char* what) {
  return MakeError(ErrorKind::kCard, std::string("card crypto: ") + what);
}

}  // namespace

// The key, the digest and one context each for signing and verifying, set up for this key
// (the key holds its group).
struct CardSigner::Objects {
  EVP_PKEY* key = nullptr;
  EVP_MD* digest = nullptr;
  EVP_PKEY_CTX* signContext = nullptr;
  EVP_PKEY_CTX* verifyContext = nullptr;
  ~Objects() {
    EVP_PKEY_CTX_free(verifyContext);
    EVP_PKEY_CTX_free(signContext);
    EVP_MD_free(digest);
    EVP_PKEY_free(key);
  }
  // SHA-256 of message into `out`.
  bool Digest(ByteSpan message, unsigned char* out) const {
    unsigned int size = 0;
    return EVP_Digest(message.data(), message.size(), out, &size, digest, nullptr) == 1 &&
           size == 32;
  }
};

Result<CardSigner> CardSigner::FromDer(ByteSpan privateKeyDer) {
  auto objects = std::make_unique<Objects>();
  const unsigned char* in = privateKeyDer.data();
  objects->key = d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(privateKeyDer.size()));
  if (!objects->key) return SignerError("the private key cannot be read");
  objects->digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  objects->signContext = EVP_PKEY_CTX_new_from_pkey(nullptr, objects->key, nullptr);
  objects->verifyContext = EVP_PKEY_CTX_new_from_pkey(nullptr, objects->key, nullptr);
  if (!objects->digest || !objects->signContext || !objects->verifyContext ||
      EVP_PKEY_sign_init(objects->signContext) != 1 ||
      EVP_PKEY_verify_init(objects->verifyContext) != 1) {
    return SignerError("cannot set up the key");
  }
  return CardSigner(std::move(objects));
}

CardSigner::CardSigner(std::unique_ptr<Objects> objects) : objects_(std::move(objects)) {}
CardSigner::CardSigner(CardSigner&&) noexcept = default;
CardSigner& CardSigner::operator=(CardSigner&&) noexcept = default;
CardSigner::~CardSigner() = default;

Result<Bytes> CardSigner::Sign(ByteSpan message) const {
  unsigned char hash[32];
  if (!objects_->Digest(message, hash)) return SignerError("cannot hash");
  unsigned char der[128];
  std::size_t derSize = sizeof der;
  if (EVP_PKEY_sign(objects_->signContext, der, &derSize, hash, sizeof hash) != 1) {
    return SignerError("cannot sign");
  }
  const unsigned char* derIn = der;
  ECDSA_SIG* signature = d2i_ECDSA_SIG(nullptr, &derIn, static_cast<long>(derSize));
  if (!signature) return SignerError("bad signature encoding");
  Bytes out(kSignatureSize);
  const bool fits =
      BN_bn2binpad(ECDSA_SIG_get0_r(signature), out.data(), kCoordinateSize) >= 0 &&
      BN_bn2binpad(ECDSA_SIG_get0_s(signature), out.data() + kCoordinateSize, kCoordinateSize) >= 0;
  ECDSA_SIG_free(signature);
  if (!fits) return SignerError("signature too long");
  return out;
}

bool CardSigner::Verify(ByteSpan message, ByteSpan signature) const {
  if (signature.size() != kSignatureSize) return false;
  unsigned char hash[32];
  if (!objects_->Digest(message, hash)) return false;
  ECDSA_SIG* ecdsa = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(signature.data(), kCoordinateSize, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + kCoordinateSize, kCoordinateSize, nullptr);
  if (!ecdsa || !r || !s || ECDSA_SIG_set0(ecdsa, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(ecdsa);
    return false;
  }
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(ecdsa, &der);
  ECDSA_SIG_free(ecdsa);
  const bool valid =
      derSize > 0 && EVP_PKEY_verify(objects_->verifyContext, der,
                                     static_cast<std::size_t>(derSize), hash, sizeof hash) == 1;
  OPENSSL_free(der);
  return valid;
}

}  // namespace kasse::sim
