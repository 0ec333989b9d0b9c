#pragma once
// Where a simulated card keeps itself between runs (see card_files.h for the files): opened
// under the card's lock, the snapshot read and the log replayed; every change recorded durably
// before the card answers; a new snapshot every so many records and at clean shutdown. Every
// write goes through the file-I/O seam.

#include <cstddef>
#include <filesystem>
#include <functional>

#include "common/file_io.h"
#include "common/result.h"
#include "sim/books_log.h"
#include "sim/card_crypto.h"
#include "sim/card_files.h"
#include "sim/card_state.h"
#include "sim/notice.h"

namespace kasse::sim {

struct LoadedCard {
  CardState books;
  CardKeys keys;
};

using NewCardMaker = std::function<Result<LoadedCard>()>;

struct StoreAccess {
  FileIo* io = nullptr;  // never null; outlives the store
  NoticeSink notice;
  bool silentLogRepair = false;  // tests only, see LogAccess
};

class CardStore {
 public:
  // Reads the card kept at `stateFile`, or makes one with `makeNew` when there is none yet.
  // Damage (a snapshot that fails its checksum, a log record that does, a key that no longer
  // matches its certificate, a snapshot and log that disagree) is an error naming the file and
  // the byte offset, and every file stays as it was: never a fresh or repaired card, which
  // could give sequence numbers a second time. Only a torn last record of the log is dropped.
  // A snapshot of the oldest format (keys inside) is converted once all of it has been read.
  static Result<CardStore> Open(const std::filesystem::path& stateFile, const NewCardMaker& makeNew,
                                LoadedCard& card, StoreAccess access);

  // Durable when it returns success; on failure nothing of the change is kept.
  Result<void> Record(const CardState& before, const CardState& after);
  // After a change: a snapshot when the log holds `interval` records, and at every change
  // while the last one could not be written (said once on the notices, and when it works
  // again).
  void SnapshotIfDue(const CardState& books, std::size_t interval);
  // At clean shutdown: a snapshot when the log holds records; said when it cannot be written.
  void Close(const CardState& books);
  std::size_t LogRecords() const { return log_.Records(); }
  const CardPaths& Paths() const { return paths_; }

 private:
  CardStore(CardPaths paths, CardLock lock, BooksLog log, StoreAccess access);
  // A new snapshot of `books`, then an empty log.
  Result<void> Snapshot(const CardState& books);

  CardPaths paths_;
  CardLock lock_;
  BooksLog log_;
  StoreAccess access_;
  bool snapshotFailing_ = false;
};

// The certificate file: the card certificate (DER), then the certificate of its issuer.
std::string CertificateFileContents(const CardKeys& keys);
// Fills certificate and caCertificate from such a file.
Result<void> ReadCertificateFile(const std::string& contents, CardKeys& keys);

}  // namespace kasse::sim
