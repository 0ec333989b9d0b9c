#pragma once
// Owning pointers for OpenSSL objects and DER encoding of them, for the simulator's crypto.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "common/bytes.h"

namespace kasse::sim {

template <auto Free>
struct OpenSslFree {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using KeyHandle = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using CertificateHandle = std::unique_ptr<X509, OpenSslFree<X509_free>>;

// DER of `object` through an i2d_* function; empty when OpenSSL cannot encode it.
template <typename T, typename Encode>
Bytes EncodeDer(T* object, Encode encode) {
  const int size = encode(object, nullptr);
  if (size <= 0) return {};
  Bytes der(static_cast<std::size_t>(size));
  Byte* out = der.data();
  if (encode(object, &out) != size) return {};
  return der;
}

inline CertificateHandle DecodeCertificate(ByteSpan der) {
  const unsigned char* in = der.data();
  return CertificateHandle(d2i_X509(nullptr, &in, static_cast<long>(der.size())));
}

inline KeyHandle DecodePrivateKey(ByteSpan der) {
  const unsigned char* in = der.data();
  return KeyHandle(d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(der.size())));
}

inline KeyHandle DecodePublicKey(ByteSpan der) {
  const unsigned char* in = der.data();
  return KeyHandle(d2i_PUBKEY(nullptr, &in, static_cast<long>(der.size())));
}

}  // namespace kasse::sim
