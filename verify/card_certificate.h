#pragma once
// A certificate read once: the OpenSSL object with its public key decoded, its subject as a line
// and, for a card certificate, the card name and number its subject carries. Shared read-only
// between threads once made.

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

class ParsedCertificate {
 public:
  static Result<std::shared_ptr<const ParsedCertificate>> FromDer(ByteSpan der);
  ~ParsedCertificate();
  ParsedCertificate(const ParsedCertificate&) = delete;
  ParsedCertificate& operator=(const ParsedCertificate&) = delete;

  X509* X509Object() const { return x509_; }
  EVP_PKEY* Key() const;  // owned by the certificate; null when it holds none
  const Bytes& Der() const { return der_; }
  const std::string& Subject() const { return subject_; }
  // The subject's common name and serialNumber, as a card certificate names tpId and tpIdNo.
  const std::optional<std::string>& CommonName() const { return commonName_; }
  const std::optional<std::string>& SerialNumber() const { return serialNumber_; }
  // The card the subject names: its common name, and its serialNumber read as a decimal
  // number. Nothing when either is missing or the serialNumber is not a number: such a
  // certificate is no card's.
  std::optional<std::pair<std::string, std::uint64_t>> NamedCard() const;
  // Whether the subject names this card (tpId as cp1252 bytes).
  bool NamesCard(std::string_view tpId, std::uint64_t tpIdNo) const;

 private:
  ParsedCertificate() = default;
  X509* x509_ = nullptr;
  Bytes der_;
  std::string subject_;
  std::optional<std::string> commonName_, serialNumber_;
};

// ECDSA with SHA-256 under the certificate's key, the signature given as r and s of equal
// length, big-endian. true: valid; false: no match; an error: unusable key or signature.
Result<bool> CheckSignatureWithKey(EVP_PKEY* key, ByteSpan message, ByteSpan signature);

// Every certificate in a file's text: DER (one) or PEM (one or more).
Result<std::vector<Bytes>> CertificatesOfFile(std::string_view text);

}  // namespace kasse
