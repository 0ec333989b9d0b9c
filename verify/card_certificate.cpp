#include "verify/card_certificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <charconv>
#include <vector>

#include "common/cp1252.h"

namespace kasse {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

std::string NameLine(const X509_NAME* name) {
  char buffer[512];
  X509_NAME_oneline(name, buffer, sizeof buffer);
  return buffer;
}

// The raw bytes of the first entry `nid` of a name.
std::optional<std::string> NameEntry(const X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0) return std::nullopt;
  const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  const unsigned char* data = ASN1_STRING_get0_data(value);
  return std::string(reinterpret_cast<const char*>(data),
                     static_cast<std::size_t>(ASN1_STRING_length(value)));
}

}  // namespace

Result<std::shared_ptr<const ParsedCertificate>> ParsedCertificate::FromDer(ByteSpan der) {
  const unsigned char* cursor = der.data();
  X509* x509 = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
  if (x509 == nullptr) return MakeError(ErrorKind::kMalformed, "not an X.509 certificate");
  std::shared_ptr<ParsedCertificate> parsed(new ParsedCertificate());
  parsed->x509_ = x509;
  parsed->der_.assign(der.begin(), der.end());
  const X509_NAME* subject = X509_get_subject_name(x509);
  parsed->subject_ = NameLine(subject);
  parsed->commonName_ = NameEntry(subject, NID_commonName);
  parsed->serialNumber_ = NameEntry(subject, NID_serialNumber);
  return std::shared_ptr<const ParsedCertificate>(std::move(parsed));
}

ParsedCertificate::~ParsedCertificate() {
  X509_free(x509_);
}

EVP_PKEY* ParsedCertificate::Key() const {
  return X509_get0_pubkey(x509_);
}

std::optional<std::pair<std::string, std::uint64_t>> ParsedCertificate::NamedCard() const {
  if (!commonName_ || commonName_->empty() || !serialNumber_ || serialNumber_->empty())
    return std::nullopt;
  std::uint64_t number = 0;
  const char* end = serialNumber_->data() + serialNumber_->size();
  const auto read = std::from_chars(serialNumber_->data(), end, number);
  if (read.ec != std::errc() || read.ptr != end) return std::nullopt;
  return std::make_pair(*commonName_, number);
}

bool ParsedCertificate::NamesCard(std::string_view tpId, std::uint64_t tpIdNo) const {
  const auto named = NamedCard();
  if (!named || named->second != tpIdNo) return false;
  // The card's name is cp1252; a certificate may carry it as those bytes or as UTF-8.
  return named->first == tpId || named->first == Cp1252ToUtf8(tpId);
}

Result<bool> CheckSignatureWithKey(EVP_PKEY* key, ByteSpan message, ByteSpan signature) {
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
  unsigned char der[160];
  unsigned char* cursor = der;
  if (i2d_ECDSA_SIG(sig.get(), nullptr) > static_cast<int>(sizeof der))
    return MakeError(ErrorKind::kUnusableInput, "signature: cannot be encoded");
  const int derLength = i2d_ECDSA_SIG(sig.get(), &cursor);
  if (derLength <= 0) return MakeError(ErrorKind::kUnusableInput, "signature: cannot be encoded");
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1)
    return MakeError(ErrorKind::kUnusableInput, "the certificate's key cannot verify");
  const int verdict = EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derLength),
                                       message.data(), message.size());
  return verdict == 1;
}

Result<std::vector<Bytes>> CertificatesOfFile(std::string_view text) {
  std::vector<Bytes> certificates;
  if (text.find("-----BEGIN CERTIFICATE-----") == std::string_view::npos) {
    const Bytes der(text.begin(), text.end());
    if (!ParsedCertificate::FromDer(der))
      return MakeError(ErrorKind::kMalformed, "neither a DER nor a PEM certificate");
    certificates.push_back(der);
    return certificates;
  }
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  while (bio) {
    X509Ptr x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!x509) break;
    unsigned char* der = nullptr;
    const int length = i2d_X509(x509.get(), &der);
    if (length > 0) certificates.emplace_back(der, der + length);
    OPENSSL_free(der);
  }
  ERR_clear_error();  // the end of the text leaves a "no start line" behind
  if (certificates.empty())
    return MakeError(ErrorKind::kMalformed, "no readable certificate in the PEM text");
  return certificates;
}

}  // namespace kasse
