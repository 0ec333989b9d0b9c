#include "sim/card_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "common/bytes.h"
#include "common/files.h"
#include "sim/certificate_maker.h"
#include "sim/log_replay.h"

namespace kasse::sim {
namespace {

constexpr std::size_t kStateLimit = 64 << 20;
constexpr std::size_t kKeyLimit = 64 << 10;

// The size of the DER object at the start of `der`, or 0 when it is not one.
std::size_t DerObjectSize(ByteSpan der) {
  if (der.size() < 2 || der[0] != 0x30) return 0;
  std::size_t length = der[1];
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 3 || der.size() < 2 + count) return 0;
    length = 0;
    for (std::size_t i = 0; i < count; ++i)
      length = (length << 8) | der[2 + i];
    header += count;
  }
  return der.size() - header < length ? 0 : header + length;
}

bool Exists(const std::filesystem::path& path, int& error) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) return true;
  error = errno == ENOENT ? 0 : errno;
  return false;
}

Result<void> WriteKeyFiles(FileIo& io, const CardPaths& paths, const CardKeys& keys) {
  if (auto key = ReplaceCardFile(io, paths.key, ToText(keys.privateKey)); !key) return key;
  return ReplaceCardFile(io, paths.cert, CertificateFileContents(keys));
}

Result<CardKeys> ReadKeyFiles(const CardPaths& paths) {
  auto key = ReadCardFile(paths.key, kKeyLimit);
  if (!key) return key.error();
  auto cert = ReadCardFile(paths.cert, kKeyLimit);
  if (!cert) return cert.error();
  CardKeys keys;
  keys.privateKey = ToBytes(*key);
  if (keys.privateKey.empty()) return CardRefusal(paths, paths.key, std::nullopt, "it is empty");
  if (auto read = ReadCertificateFile(*cert, keys); !read) {
    return CardRefusal(paths, paths.cert, std::nullopt, read.error().English());
  }
  return keys;
}

// The key must sign what its certificate verifies, and the certificate name the card of the
// books: a damaged key would sign receipts no one can verify.
Result<void> CheckKeys(const CardPaths& paths, const CardState& books, const CardKeys& keys,
                       const std::filesystem::path& keyFile) {
  if (!CertifiesKey(keys.certificate, keys.privateKey)) {
    return CardRefusal(
        paths, keyFile, std::nullopt,
        "the key no longer matches the card's certificate in " + paths.cert.string());
  }
  if (!NamesCard(keys.certificate, books.tpId, books.tpIdNo)) {
    return CardRefusal(paths, paths.cert, std::nullopt,
                       "the certificate does not name the card " + books.tpId + " " +
                           std::to_string(books.tpIdNo) + " of " + paths.state.string());
  }
  return {};
}

Result<StateFile> ReadSnapshot(const CardPaths& paths) {
  auto text = ReadCardFile(paths.state, kStateLimit);
  if (!text) return text.error();
  auto file = ParseState(*text);
  if (!file) return CardRefusal(paths, paths.state, file.error().offset, file.error().English());
  return file;
}

// A card without a snapshot: new, unless its log shows that it has answered before.
Result<LoadedCard> CreateCard(FileIo& io, const CardPaths& paths, const LogReading& log,
                              const NewCardMaker& makeNew) {
  if (!log.contents.records.empty()) {
    return CardRefusal(
        paths, paths.state, std::nullopt,
        "the card's books are missing but its log holds records (" + paths.log.string() + ")");
  }
  auto card = makeNew();
  if (!card) return card;
  if (auto written = WriteKeyFiles(io, paths, card->keys); !written) return written.error();
  // The snapshot last: its presence says the card is complete.
  if (auto written = ReplaceCardFile(io, paths.state, SerializeState(card->books)); !written) {
    return written.error();
  }
  return card;
}

// The kept card, read and checked whole before anything is written: the snapshot, its keys and
// the log replayed over it. A snapshot with the keys inside (the oldest format) is converted.
Result<LoadedCard> ReadCard(FileIo& io, const CardPaths& paths, const LogReading& log) {
  auto file = ReadSnapshot(paths);
  if (!file) return file.error();
  LoadedCard card{std::move(file->books), {}};
  const bool convert = file->oldFormatKeys.has_value();
  if (convert) {
    card.keys = std::move(*file->oldFormatKeys);
  } else {
    auto keys = ReadKeyFiles(paths);
    if (!keys) return keys.error();
    card.keys = std::move(*keys);
  }
  const auto& keyFile = convert ? paths.state : paths.key;
  if (auto checked = CheckKeys(paths, card.books, card.keys, keyFile); !checked) {
    return checked.error();
  }
  auto books = ReplayLog(card.books, log.contents.records, paths);
  if (!books) return books.error();
  if (convert) {
    // Keys move to files of their own; the snapshot is rewritten without them last, so a
    // crash in between converts again. The log continues the snapshot as before.
    if (auto written = WriteKeyFiles(io, paths, card.keys); !written) return written.error();
    if (auto written = ReplaceCardFile(io, paths.state, SerializeState(card.books)); !written) {
      return written.error();
    }
  }
  card.books = std::move(*books);
  return card;
}

}  // namespace

std::string CertificateFileContents(const CardKeys& keys) {
  return ToText(keys.certificate) + ToText(keys.caCertificate);
}

Result<void> ReadCertificateFile(const std::string& contents, CardKeys& keys) {
  const Bytes bytes = ToBytes(contents);
  const std::size_t card = DerObjectSize(bytes);
  if (card == 0) return MakeError(ErrorKind::kMalformed, "not a certificate");
  const ByteSpan rest = ByteSpan(bytes).subspan(card);
  if (!rest.empty() && DerObjectSize(rest) != rest.size()) {
    return MakeError(ErrorKind::kMalformed, "not a certificate chain");
  }
  keys.certificate.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(card));
  keys.caCertificate.assign(rest.begin(), rest.end());
  return {};
}

CardStore::CardStore(CardPaths paths, CardLock lock, BooksLog log, StoreAccess access)
    : paths_(std::move(paths)),
      lock_(std::move(lock)),
      log_(std::move(log)),
      access_(std::move(access)) {}

Result<CardStore> CardStore::Open(const std::filesystem::path& stateFile,
                                  const NewCardMaker& makeNew, LoadedCard& card,
                                  StoreAccess access) {
  CardPaths paths(stateFile);
  FileIo& io = *access.io;
  auto lock = CardLock::Acquire(paths, io);
  if (!lock) return lock.error();
  if (auto warning = LooseFolderWarning(paths.Folder(), FolderUse::kSecrets)) {
    Say(access.notice, *warning);
  }
  int error = 0;
  const bool exists = Exists(paths.state, error);
  if (error != 0) return FileError(file_msg::kCannotOpen, paths.state, error);
  auto reading = BooksLog::Read(paths, access.silentLogRepair);
  if (!reading) return reading.error();
  auto loaded = exists ? ReadCard(io, paths, *reading) : CreateCard(io, paths, *reading, makeNew);
  if (!loaded) return loaded.error();
  auto log = BooksLog::Open(paths, *reading, {&io, access.notice, access.silentLogRepair});
  if (!log) return log.error();
  RemoveCardLeftovers(paths, io, access.notice);
  card = std::move(*loaded);
  return CardStore(std::move(paths), std::move(*lock), std::move(*log), std::move(access));
}

Result<void> CardStore::Record(const CardState& before, const CardState& after) {
  return log_.Append(SerializeChange(before, after));
}

void CardStore::SnapshotIfDue(const CardState& books, std::size_t interval) {
  const std::size_t records = log_.Records();
  if (records == 0 || (records < interval && !snapshotFailing_)) return;
  const Result<void> written = Snapshot(books);
  if (!written && !snapshotFailing_) {
    Say(access_.notice, "cannot write the card's snapshot: " + written.error().English() +
                            ". Its log " + paths_.log.string() +
                            " keeps every change and grows with each; the card tries again "
                            "at its next change.");
  }
  if (written && snapshotFailing_) {
    Say(access_.notice, "the card's snapshot " + paths_.state.string() +
                            " is written again and its log starts afresh");
  }
  snapshotFailing_ = !written;
}

void CardStore::Close(const CardState& books) {
  if (log_.Records() == 0) return;
  if (const Result<void> written = Snapshot(books); !written) {
    Say(access_.notice, "cannot write the card's snapshot at shutdown: " +
                            written.error().English() + ". Its log " + paths_.log.string() +
                            " keeps every change and is replayed at the next start.");
  }
}

Result<void> CardStore::Snapshot(const CardState& books) {
  if (auto written = ReplaceCardFile(*access_.io, paths_.state, SerializeState(books)); !written) {
    return written;
  }
  return log_.Restart();
}

}  // namespace kasse::sim
