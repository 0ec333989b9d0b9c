#pragma once
// The XML journal: one pair of files per run in Journal/ (S: the encoded card data, L: the
// readable fields) and an optional export pair in a folder of the user's choice, filled from
// pending buffers and kept well-formed after every flush. The pending buffers hold every record
// since the card started until an export pair takes them; past a threshold they wait in a
// private file of the state folder (SpillPendingInto), so memory stays flat over long runs.
//
// Callers write whole tags themselves; text content they take from the operator must go through
// XmlEscape (journal/xml_text.h). Writes are held in memory until the next Sync or Flush,
// which hand them to the OS in one call per file (a sale is a few dozen small writes); Sync
// then puts them on the disk, so a power cut loses nothing synced. Callers sync where the card
// is involved (the request before the command goes out, the answer before anyone sees it) and
// flush a record they end without a sync, so a crash of the register loses nothing journalled.
//
// The pair is opened at the first write of a run, with names no other register holds. A write
// or sync that fails keeps the text in memory, in order; later writes queue behind it and every
// further write or Sync tries again, so the files never get a gap and hold well-formed text up
// to the last complete record. IsBehind() says a record is held in memory only.
// Single-threaded: the user-interface thread only.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/file_io.h"
#include "common/result.h"
#include "journal/journal_export.h"

namespace kasse {

// Bit set: 1 the S file, 2 the L file, 3 both.
enum JournalTarget : int { kJournalS = 1, kJournalL = 2, kJournalBoth = 3 };

// Which pending buffer also receives the text: none (frame), records, parameter block.
enum class JournalSection { kFrame = 0, kRecord = 1, kParams = 2 };

inline constexpr std::string_view kJournalHeader =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><kavelo><document-information>"
    "<version>1.0</version></document-information>";
inline constexpr std::string_view kJournalClosingTag = "</kavelo>";

// The card data of the parameter block, as the card session read it. The certificate is the
// Base64 text of the card's certificate file; it also identifies the block in export files.
struct QorParams {
  std::string version, tpId, tpIdNo, certificate;
};

// Records whose journal text is not (all) on the disk, with the parameter block of the pair they
// belong to: what a register that must end rescues elsewhere. Whole records, from the first one
// that is not on the disk in both files.
struct HeldRecords {
  QorParams params;
  std::string s, l;
  bool Empty() const { return s.empty() && l.empty(); }
};

// "yymmdd" of today's system date (not the application clock).
std::string SystemDateYymmdd();

class Journal {
 public:
  using DateSource = std::function<std::string()>;
  using ParamsSource = std::function<QorParams()>;

  explicit Journal(std::filesystem::path home, DateSource today = SystemDateYymmdd,
                   FileIo& io = PosixFileIo());
  ~Journal();  // the closing tag at program end
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Asked when the pair is opened; the card session reads the certificate then if it must.
  void SetParamsSource(ParamsSource source) { paramsSource_ = std::move(source); }

  Result<void> JournalWrite(int targets, JournalSection section, std::string_view text);
  // The closed item-list text directly followed by <hashTransactionItems>, the hash bytes as
  // hexadecimal digits (one write per byte) and </hashTransactionItems>; all L file, records.
  Result<void> WriteItemHash(std::string_view itemListText, ByteSpan hash);
  // Hands what is held in memory to the OS (both files) and puts the files of `targets` on the
  // disk (fdatasync; a new pair's folder once). Nothing when the pair is not open.
  Result<void> Sync(int targets = kJournalBoth);
  // Hands what is held in memory to the OS, without waiting for the disk.
  Result<void> Flush();
  // A whole record that must not be lost (a late answer of the card): written and synced.
  Result<void> WriteRecord(int targets, std::string_view record);
  // A write or sync failed and has not succeeded since: some text is in memory only.
  bool IsBehind() const { return behind_; }
  // A new record begins (each record's first write is preceded by this). It is refused whole
  // when its pair could not be created, so that no record ever lacks its start.
  void MarkRecordStart();
  // What is held in memory only, as whole records; empty when nothing is.
  HeldRecords Held() const;

  Result<void> OpenJournalPair();
  Result<void> CloseJournalPair();
  // Closes the pair without writing what is held (it was rescued elsewhere): the files keep
  // what reached them, without a closing tag.
  void AbandonJournalPair();
  bool IsOpen() const { return s_.fd >= 0; }
  const std::filesystem::path& SName() const { return s_.name; }
  const std::filesystem::path& LName() const { return l_.name; }

  // Export pair (journal_export.cpp). ExportNew refuses a pair of which either file exists;
  // ExportOpen adds to the files that exist and makes those that do not.
  Result<void> ExportNew(const std::filesystem::path& chosen);
  Result<void> ExportOpen(const std::filesystem::path& chosen);
  Result<void> ExportFlush();
  // After a transaction's closing tag: flushes once PendingL has grown past kFlushThreshold.
  Result<void> ExportFlushIfDue();
  void ResetExportBuffers();
  bool HasExportPair() const { return !exportS_.empty(); }
  const std::filesystem::path& ExportSName() const { return exportS_; }
  const std::filesystem::path& ExportLName() const { return exportL_; }

  // Where the pending records wait beyond `inMemory` bytes each; until this is called, and
  // without a folder, they stay in memory.
  void SpillPendingInto(const std::filesystem::path& folder,
                        std::size_t inMemory = PendingText::kInMemory);
  const PendingText& PendingS() const { return pendingS_; }
  const PendingText& PendingL() const { return pendingL_; }
  const std::string& PendingParams() const { return pendingParams_; }
  const std::string& KnownCertificateIds() const { return knownCertificateIds_; }

  // The flush threshold after a transaction: PendingL longer than this many characters.
  static constexpr std::size_t kFlushThreshold = 0x4E20;
  // Text held for one file beyond this goes to the OS without waiting for a flush.
  static constexpr std::size_t kHandOverAt = 64 * 1024;

 private:
  // One file of the pair: what was handed to the OS but not synced, and what is still held.
  struct PairFile {
    int fd = -1;
    std::filesystem::path name;
    std::string unwritten;
    bool unsynced = false;
  };
  Result<void> CreatePair(const std::filesystem::path& sName, const std::filesystem::path& lName);
  void RemovePair();
  Result<void> Append(PairFile& file, std::string_view text);
  Result<void> HandOver(PairFile& file);
  Result<void> SyncFile(PairFile& file);
  Result<void> WriteParameterBlock();
  Result<void> CreateExportFile(const std::filesystem::path& path, const PendingText& pending);
  Result<void> FlushExportFile(const std::filesystem::path& path, const PendingText& pending,
                               std::size_t& closingOffset);
  Result<void> PlacePendingParams();
  Result<void> PlaceParamsInto(const std::filesystem::path& path, std::size_t& closingOffset);

  std::filesystem::path home_;
  DateSource today_;
  FileIo& io_;
  ParamsSource paramsSource_;
  PairFile s_, l_;
  std::vector<std::filesystem::path> unsyncedFolders_;
  bool recordRefused_ = false;
  QorParams params_;
  std::string heldS_, heldL_;  // record text since the last record start with all on the disk
  bool behind_ = false;
  PendingText pendingS_{io_}, pendingL_{io_};
  std::string pendingParams_;
  std::filesystem::path exportS_, exportL_;
  std::size_t closingOffsetS_ = 0, closingOffsetL_ = 0;
  std::string knownCertificateIds_ = ";";
};

// Scans an export file's text for its closing tag; collects the certificate identifiers found
// (contents of certificateId and certificate elements) into knownIds as ";id;id;". Nothing
// when the text holds no closing tag.
std::optional<std::size_t> FindClosingTag(std::string_view fileText, std::string& knownIds);

// The export pair for a chosen name: S and L put before the file name's extension dot, after
// dropping an S or L that already stands there. First the S name, then the L name.
std::pair<std::filesystem::path, std::filesystem::path> ExportNames(
    const std::filesystem::path& chosen);

}  // namespace kasse
