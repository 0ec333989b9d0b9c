#pragma once
// Where a simulated card keeps itself between runs (see card_files.h for the files): opened
// under the card's lock, the snapshot read and the log replayed; every change recorded durably
// before the card answers; a new snapshot every so many records and at clean shutdown.

#include <cstddef>
#include <filesystem>
#include <functional>

#include "common/result.h"
#include "sim/books_log.h"
#include "sim/card_crypto.h"
#include "sim/card_files.h"
#include "sim/card_state.h"

namespace kasse::sim {

struct LoadedCard {
  CardState books;
  CardKeys keys;
};

using NewCardMaker = std::function<Result<LoadedCard>()>;

class CardStore {
 public:
  // Reads the card kept at `stateFile`, or makes one with `makeNew` when there is none yet. A
  // damaged card is an error, never a fresh card: that would give sequence numbers a second
  // time. A file of the older format (keys inside) is converted.
  static Result<CardStore> Open(const std::filesystem::path& stateFile, const NewCardMaker& makeNew,
                                LoadedCard& card, AppendFaultHook fault = {});

  // Durable when it returns success; on failure nothing of the change is kept.
  Result<void> Record(const CardState& before, const CardState& after);
  // Writes the snapshot when the log holds `interval` records or more.
  void SnapshotIfDue(const CardState& books, std::size_t interval);
  // A new snapshot of `books`, then an empty log.
  Result<void> Snapshot(const CardState& books);
  std::size_t LogRecords() const { return log_.Records(); }

 private:
  CardStore(CardPaths paths, CardLock lock, BooksLog log);

  CardPaths paths_;
  CardLock lock_;
  BooksLog log_;
  std::size_t failedSnapshotAt_ = 0;
};

// The certificate file: the card certificate (DER), then the certificate of its issuer.
std::string CertificateFileContents(const CardKeys& keys);
// Fills certificate and caCertificate from such a file.
Result<void> ReadCertificateFile(const std::string& contents, CardKeys& keys);

}  // namespace kasse::sim
