#pragma once
// The simulated QOR card: takes a command APDU and answers a response APDU. Its only I/O is
// the card's files (card_files.h), locked while the engine lives, and its issuer's; a change is
// appended to the card's log durably before the answer leaves, so a sequence number is never
// given twice and nothing refused is counted. Not thread-safe: one caller at a time (the
// embedded reader and the daemon serialise).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/file_io.h"
#include "common/result.h"
#include "sim/notice.h"

namespace kasse::sim {

class CardCore;

enum class Lifecycle : Byte {
  kInitialised = 0x01,
  kPersonalised = 0x02,
  kActivated = 0x03,
  kDeactivated = 0x04,
};

struct EngineOptions {
  // Empty: the card lives in memory only (fresh keys on every start).
  std::filesystem::path stateFile;
  int versionLevel = 2;                              // 1 answers "T.1.1"
  Lifecycle startLifecycle = Lifecycle::kActivated;  // for a new state file only
  std::string transportPin = "123456";               // for a new state file only
  bool debugHash = false;                            // adds 9A to transaction answers
  std::chrono::milliseconds signDelay{0};            // a real card needs tens of ms to sign
  // For a new card only: its number; none takes the issuer's next free one.
  std::optional<std::uint32_t> tpIdNo;
  // The test issuer's folder; empty: the user's state folder, or a throw-away issuer for a
  // card in memory only.
  std::filesystem::path issuerFolder;
  std::size_t snapshotEvery = 10'000;  // log records between snapshots
  // Every write, sync, truncation, rename, link, unlink, folder made and folder sync of the
  // card, its log and its issuer goes through this; null: the real system calls. Must outlive
  // the engine. (The lock files' flock stays outside: it keeps nothing.)
  FileIo* io = nullptr;
  // Told why a change could not be kept (path and reason) when the card answers 65 81.
  std::function<void(const Error&)> onWriteError;
  // The card's own log of notices (notice.h): a snapshot it cannot write, leftovers removed,
  // a log near its size limit, a folder open to other users.
  NoticeSink onNotice;
  // Tests only: damage in the log is cut off at the first record that does not read, without
  // a word, as the card did before it refused damage; shows that a test catches a card rolled
  // back.
  bool testSilentLogRepair = false;
};

// The file-I/O seam the card writes through.
inline FileIo& EngineIo(const EngineOptions& options) {
  return options.io ? *options.io : PosixFileIo();
}

class QorEngine {
 public:
  explicit QorEngine(EngineOptions options);
  ~QorEngine();
  QorEngine(const QorEngine&) = delete;
  QorEngine& operator=(const QorEngine&) = delete;

  // Set when the card's files could not be locked, read or created, or are damaged (the
  // message names the path, the byte offset where it applies, and what the user can do); the
  // card then answers 6F 00.
  const std::optional<Error>& StartError() const { return startError_; }

  // Any bytes in; an answer with a status word out, never a crash.
  Bytes Process(ByteSpan command);
  Bytes Atr() const;
  // Power cycle: selections and a running chained hash are forgotten, the books are not.
  void Reset();

  // The card certificate (X.509 DER) and the test issuer's, for verifiers and tests.
  Bytes CardCertificate() const;
  Bytes CaCertificate() const;

 private:
  EngineOptions options_;
  std::unique_ptr<CardCore> core_;
  std::optional<Error> startError_;
};

}  // namespace kasse::sim
