#include "common/sha.h"

#include <openssl/evp.h>

namespace kasse {
namespace {

template <std::size_t N>
std::array<Byte, N> Digest(const EVP_MD* md, ByteSpan data) {
  std::array<Byte, N> digest{};
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &length, md, nullptr);
  return digest;
}

}  // namespace

Sha1Digest Sha1(ByteSpan data) {
  return Digest<20>(EVP_sha1(), data);
}
Sha256Digest Sha256(ByteSpan data) {
  return Digest<32>(EVP_sha256(), data);
}

}  // namespace kasse
