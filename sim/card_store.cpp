#include "sim/card_store.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/bytes.h"

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

Result<void> WriteKeyFiles(const CardPaths& paths, const CardKeys& keys) {
  if (auto key = ReplaceCardFile(paths.key, ToText(keys.privateKey)); !key) return key;
  return ReplaceCardFile(paths.cert, CertificateFileContents(keys));
}

Result<CardKeys> ReadKeyFiles(const CardPaths& paths) {
  auto key = ReadCardFile(paths.key, kKeyLimit);
  if (!key) return key.error();
  auto cert = ReadCardFile(paths.cert, kKeyLimit);
  if (!cert) return cert.error();
  CardKeys keys;
  keys.privateKey = ToBytes(*key);
  if (auto read = ReadCertificateFile(*cert, keys); !read) {
    return MakeError(ErrorKind::kMalformed, read.error().message + ": " + paths.cert.string());
  }
  if (keys.privateKey.empty()) {
    return MakeError(ErrorKind::kMalformed, "empty key file: " + paths.key.string());
  }
  return keys;
}

// A card without a snapshot: new, unless a log shows that it has answered before.
Result<LoadedCard> CreateCard(const CardPaths& paths, const NewCardMaker& makeNew) {
  int error = 0;
  if (Exists(paths.log, error)) {
    auto log = ReadCardFile(paths.log, kStateLimit);
    if (!log) return log.error();
    if (log->size() > 14) {
      return MakeError(
          ErrorKind::kMalformed,
          "the card's books are missing but its log holds records: " + paths.state.string());
    }
  }
  auto card = makeNew();
  if (!card) return card;
  if (auto written = WriteKeyFiles(paths, card->keys); !written) return written.error();
  // The snapshot last: its presence says the card is complete.
  if (auto written = ReplaceCardFile(paths.state, SerializeState(card->books)); !written) {
    return written.error();
  }
  return card;
}

Result<LoadedCard> ReadCard(const CardPaths& paths) {
  auto text = ReadCardFile(paths.state, kStateLimit);
  if (!text) return text.error();
  auto file = ParseState(*text);
  if (!file) {
    return MakeError(ErrorKind::kMalformed, file.error().message + " (line " +
                                                std::to_string(file.error().offset) +
                                                "): " + paths.state.string());
  }
  LoadedCard card{std::move(file->books), {}};
  if (file->oldFormatKeys) {
    // Keys move to files of their own; the snapshot is rewritten without them last, so a
    // crash in between converts again.
    card.keys = std::move(*file->oldFormatKeys);
    if (auto written = WriteKeyFiles(paths, card.keys); !written) return written.error();
    if (auto written = ReplaceCardFile(paths.state, SerializeState(card.books)); !written) {
      return written.error();
    }
    return card;
  }
  auto keys = ReadKeyFiles(paths);
  if (!keys) return keys.error();
  card.keys = std::move(*keys);
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

CardStore::CardStore(CardPaths paths, CardLock lock, BooksLog log)
    : paths_(std::move(paths)), lock_(std::move(lock)), log_(std::move(log)) {}

Result<CardStore> CardStore::Open(const std::filesystem::path& stateFile,
                                  const NewCardMaker& makeNew, LoadedCard& card,
                                  AppendFaultHook fault) {
  CardPaths paths(stateFile);
  auto lock = CardLock::Acquire(paths);
  if (!lock) return lock.error();
  int error = 0;
  const bool exists = Exists(paths.state, error);
  if (error != 0) return CardFileError("cannot open", paths.state, error);
  auto loaded = exists ? ReadCard(paths) : CreateCard(paths, makeNew);
  if (!loaded) return loaded.error();
  std::vector<std::string> records;
  auto log = BooksLog::Open(paths.log, records, std::move(fault));
  if (!log) return log.error();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (auto applied = ApplyChange(records[i], loaded->books); !applied) {
      return MakeError(ErrorKind::kMalformed, "bad record " + std::to_string(i + 1) + " in " +
                                                  paths.log.string() + ": " +
                                                  applied.error().message);
    }
  }
  card = std::move(*loaded);
  return CardStore(std::move(paths), std::move(*lock), std::move(*log));
}

Result<void> CardStore::Record(const CardState& before, const CardState& after) {
  return log_.Append(SerializeChange(before, after));
}

void CardStore::SnapshotIfDue(const CardState& books, std::size_t interval) {
  const std::size_t records = log_.Records();
  // After a failed snapshot the next try waits for another interval.
  if (records < interval || records < failedSnapshotAt_ + interval) return;
  if (!Snapshot(books)) failedSnapshotAt_ = records;
}

Result<void> CardStore::Snapshot(const CardState& books) {
  if (auto written = ReplaceCardFile(paths_.state, SerializeState(books)); !written) {
    return written;
  }
  failedSnapshotAt_ = 0;
  return log_.Restart();
}

}  // namespace kasse::sim
