#pragma once
// Every card certificate the verifier knows, each read, its key decoded and its chain to a
// trusted issuer checked once. Sources: the parameter blocks of the journals under a home,
// certificate files and folders (one DER file a card), and the trusted issuers' files and
// folders. The index is read again only when a source changes (a file's modification time or
// size, a folder's list of files). Find and Refresh may be called from several threads.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "verify/card_certificate.h"

namespace kasse {

class TrustStore;

struct CertificateSources {
  std::filesystem::path home;                       // journals under home/Journal; empty: none
  std::vector<std::filesystem::path> cardFiles;     // card certificates, DER or PEM
  std::vector<std::filesystem::path> cardFolders;   // every regular file one card's certificate
  std::vector<std::filesystem::path> trustFiles;    // trusted issuers, DER or PEM
  std::vector<std::filesystem::path> trustFolders;  // every certificate file in it trusted
  std::filesystem::path userIssuer;   // trusted once it exists (the first simulated card makes it)
  std::vector<Bytes> trusted, cards;  // given as bytes (tests, fuzzing)
};

struct IndexedCertificate {
  std::shared_ptr<const ParsedCertificate> certificate;
  std::string source;        // where it was found
  std::string chainProblem;  // empty: a trusted issuer vouches for it
};

class CertificateIndex {
 public:
  explicit CertificateIndex(CertificateSources sources);
  ~CertificateIndex();
  CertificateIndex(const CertificateIndex&) = delete;
  CertificateIndex& operator=(const CertificateIndex&) = delete;

  // Reads the sources again if one changed, at most once per `interval`.
  void Refresh(std::chrono::steady_clock::duration interval = {});

  // Every certificate that may be the card's: named so by a journal's parameter block or by
  // its own subject. A certificate whose subject names no card is never one.
  std::vector<IndexedCertificate> Find(std::string_view tpId, std::uint64_t tpIdNo) const;

  // Files that could not be read, one line each (path and reason).
  std::vector<std::string> Problems() const;
  std::size_t IssuerCount() const;
  // The trusted issuers as last read.
  std::shared_ptr<const TrustStore> Trust() const;
  std::size_t CertificateCount() const;
  // Where certificates are looked for, for a reason text ("the journals under H, 1 file").
  std::string Where() const;

  struct Snapshot;

 private:
  std::shared_ptr<const Snapshot> Current() const;

  CertificateSources sources_;
  mutable std::mutex mutex_;  // guards snapshot_ and lastCheck_
  std::shared_ptr<const Snapshot> snapshot_;
  std::chrono::steady_clock::time_point lastCheck_;
  std::mutex refreshing_;  // one reader of the sources at a time
};

}  // namespace kasse
