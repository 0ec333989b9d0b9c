// Damage in the card's files is refused with the file, the byte offset and what to do, and
// every file stays as it was; only a torn last record of the log is dropped.
#include <gtest/gtest.h>

#include <optional>

#include "common/files.h"
#include "sim/card_state.h"
#include "sim/log_frames.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::FolderBytes;
using testing::kSelectApp;
using testing::Sale;
using testing::SalesThenCrash;
using testing::Send;
using testing::SeqOf;
using testing::TempState;

using Files = std::map<std::filesystem::path, std::string>;

// CB of the status answer: the last transaction number the card gave.
std::uint32_t LastNumber(QorEngine& card) {
  Send(card, kSelectApp);
  const auto reply = Send(card, "00 CA 01 F1 00");
  const auto elements = SplitElements(reply.data);
  return elements && elements->size() > 5 ? ReadUint32((*elements)[5].value) : 0;
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
  ASSERT_TRUE(WriteFileAtomic(path, bytes));
}

void PutBack(const Files& files) {
  for (const auto& [path, bytes] : files)
    Write(path, bytes);
}

std::string Flipped(std::string bytes, std::size_t at, int bit = 0) {
  bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
  return bytes;
}

std::string Reframed(const std::vector<LogRecord>& records, int format = 2) {
  std::string log(format == 1 ? kLogHeaderV1 : kLogHeader);
  for (const LogRecord& record : records)
    log += format == 1 ? FrameRecordV1(record.payload) : FrameRecord(record.payload);
  return log;
}

// A card whose snapshot holds sales 1 to 3 and whose log holds sales 4 to 7.
class CardDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      QorEngine card(temp.Options());
      ASSERT_FALSE(card.StartError()) << card.StartError()->English();
      Send(card, kSelectApp);
      for (int i = 0; i < 3; ++i)
        ASSERT_NE(SeqOf(Send(card, Sale(100))), 0u);
    }
    SalesThenCrash(temp.Options(), 4);
    records = ReadLog(LogBytes()).records;
    ASSERT_EQ(records.size(), 4u);
  }

  std::filesystem::path Log() const { return temp.File().string() + ".log"; }
  std::string LogBytes() const { return ReadFile(Log()).value(); }
  std::string StateBytes() const { return ReadFile(temp.File()).value(); }
  std::size_t PayloadOf(std::size_t record) const { return records[record].offset + 16; }

  // The card must refuse to start naming `file` (at `offset`, when given) and saying what to
  // do, and leave every file of the card and its issuer as it was.
  void ExpectRefused(const std::filesystem::path& file, std::optional<std::uint64_t> offset,
                     const std::string& words, EngineOptions options) {
    const Files before = FolderBytes(temp.Folder());
    {
      QorEngine card(options);
      ASSERT_TRUE(card.StartError()) << "started on damaged " << file;
      const std::string& message = card.StartError()->English();
      const std::string where = offset ? " at byte " + std::to_string(*offset) + ":" : ":";
      EXPECT_NE(message.find(file.string() + where), std::string::npos) << message;
      EXPECT_NE(message.find(words), std::string::npos) << message;
      EXPECT_NE(message.find("start a new card with a new number"), std::string::npos);
      EXPECT_EQ(Send(card, kSelectApp).sw, 0x6F00);
    }
    EXPECT_EQ(FolderBytes(temp.Folder()), before);
  }
  void ExpectRefused(const std::filesystem::path& file, std::optional<std::uint64_t> offset,
                     const std::string& words) {
    ExpectRefused(file, offset, words, temp.Options());
  }

  TempState temp{"damage"};
  std::vector<LogRecord> records;
};

// The checksum compare itself, in a middle record and in the last complete one.
TEST_F(CardDamage, AChangedByteInAnyRecordIsRefusedNotCut) {
  const std::string log = LogBytes();
  for (const std::size_t record : {std::size_t{1}, records.size() - 1}) {
    Write(Log(), Flipped(log, PayloadOf(record) + 3));
    ExpectRefused(Log(), records[record].offset, "the record fails its checksum");
  }
  // A length flipped to run past the end of the file is no torn record.
  Write(Log(), Flipped(log, records[1].offset + 2, 4));
  ExpectRefused(Log(), records[1].offset, "length is damaged");
  Write(Log(), Flipped(log, 3));
  ExpectRefused(Log(), 0, "does not start with a log header");
}

TEST_F(CardDamage, RecordsOutOfOrderAreRefused) {
  std::vector<LogRecord> swapped = records;
  std::swap(swapped[1], swapped[2]);
  const std::string log = Reframed(swapped);
  Write(Log(), log);
  ExpectRefused(Log(), ReadLog(log).records[1].offset,
                "records out of order: transaction 4 and report 0 is followed by transaction 6");
  // A record dropped from the middle: a number skipped.
  std::vector<LogRecord> gap = records;
  gap.erase(gap.begin() + 1);
  Write(Log(), Reframed(gap));
  ExpectRefused(Log(), ReadLog(Reframed(gap)).records[1].offset, "records out of order");
}

TEST_F(CardDamage, AnEditedSnapshotFailsItsChecksum) {
  const std::string state = StateBytes();
  ASSERT_NE(state.find("\nseq 3 0\n"), std::string::npos);
  std::string edited = state;
  edited.replace(edited.find("\nseq 3 0\n"), 9, "\nseq 2 0\n");
  Write(temp.File(), edited);
  ExpectRefused(temp.File(), edited.rfind("checksum"), "the snapshot fails its checksum");
  const std::string cut = state.substr(0, state.size() - 10);
  Write(temp.File(), cut);
  ExpectRefused(temp.File(), cut.size(), "cut short");
}

TEST_F(CardDamage, ASnapshotAndALogThatDisagreeAreRefused) {
  const std::string oldSnapshot = StateBytes();
  { QorEngine card(temp.Options()); }  // snapshot at 7, log emptied
  const std::string newSnapshot = StateBytes();
  SalesThenCrash(temp.Options(), 2);  // log: 8 and 9
  // A snapshot put back from a copy older than the log: 4 to 7 would be missing.
  Write(temp.File(), oldSnapshot);
  ExpectRefused(Log(), ReadLog(LogBytes()).records[0].offset,
                "the log disagree: its first record holds transaction 8");
  // A log put back from a copy older than the snapshot, which never reaches it.
  Write(temp.File(), newSnapshot);
  std::vector<LogRecord> early = records;
  early.pop_back();
  const std::string earlyLog = Reframed(early);
  Write(Log(), earlyLog);
  ExpectRefused(Log(), ReadLog(earlyLog).records.back().offset, "the log ends at transaction 6");
}

// A snapshot written but the log not yet emptied: the records it holds replay into exactly
// the snapshot, and what follows continues it.
TEST_F(CardDamage, ALogNotYetEmptiedAfterItsSnapshotIsTaken) {
  const std::string log = LogBytes();
  { QorEngine card(temp.Options()); }  // snapshot at 7
  Write(Log(), log);
  SalesThenCrash(temp.Options(), 2);  // 8 and 9 after the records the snapshot holds
  EXPECT_EQ(ReadLog(LogBytes()).records.size(), 6u);
  QorEngine card(temp.Options());
  ASSERT_FALSE(card.StartError()) << card.StartError()->English();
  EXPECT_EQ(LastNumber(card), 9u);
  EXPECT_EQ(SeqOf(Send(card, Sale(100))), 10u);
}

// Every byte is cut in the reader's own tests; here a cut in each part of the frame.
TEST_F(CardDamage, ATornLastRecordIsDropped) {
  const Files kept = FolderBytes(temp.Folder());
  const std::string log = LogBytes();
  const std::size_t last = records.back().offset;
  for (const std::size_t cut :
       {last + 1, last + 5, last + 12, last + 16, last + 40, log.size() - 1}) {
    Write(Log(), log.substr(0, cut));
    {
      QorEngine card(temp.Options());
      ASSERT_FALSE(card.StartError()) << cut << ": " << card.StartError()->English();
      EXPECT_EQ(std::filesystem::file_size(Log()), records.back().offset) << cut;
      EXPECT_EQ(LastNumber(card), 6u) << cut;
    }
    PutBack(kept);
  }
}

TEST_F(CardDamage, AKeyThatNoLongerMatchesItsCertificateIsRefused) {
  TempState other("damage-other");
  EngineOptions options = other.Options();
  options.issuerFolder = temp.IssuerFolder();
  { QorEngine stranger(options); }
  const std::filesystem::path key = temp.File().string() + ".key";
  Write(key, ReadFile(other.File().string() + ".key").value());
  ExpectRefused(key, std::nullopt, "the key no longer matches the card's certificate");
}

TEST_F(CardDamage, SnapshotAndLogOfTheOlderFormatsAreReadAndConvertedLater) {
  std::string state = StateBytes();
  state.replace(0, state.find('\n'), "qor-sim-state 2");
  state.erase(state.rfind("checksum"));
  Write(temp.File(), state);
  const std::string oldLog = Reframed(records, 1);
  Write(Log(), oldLog);
  {
    QorEngine card(temp.Options());
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    EXPECT_EQ(LastNumber(card), 7u);
    EXPECT_EQ(SeqOf(Send(card, Sale(100))), 8u);
    // Appended in the format of the log's header until the log starts again.
    const LogContents read = ReadLog(LogBytes());
    EXPECT_EQ(read.format, 1);
    EXPECT_EQ(read.records.size(), 5u);
    EXPECT_FALSE(read.damage);
  }
  EXPECT_EQ(StateBytes().substr(0, 16), "qor-sim-state 3\n");
  EXPECT_EQ(LogBytes(), std::string(kLogHeader));
  QorEngine card(temp.Options());
  ASSERT_FALSE(card.StartError()) << card.StartError()->English();
  EXPECT_EQ(LastNumber(card), 8u);
  EXPECT_EQ(SeqOf(Send(card, Sale(100))), 9u);
}

TEST_F(CardDamage, DamageInALogOfTheOlderFormatIsRefusedToo) {
  const std::string oldLog = Reframed(records, 1);
  const std::size_t second = ReadLog(oldLog).records[1].offset;
  Write(Log(), Flipped(oldLog, second + 12 + 2));
  ExpectRefused(Log(), second, "the record fails its checksum");
  // A length flipped to run past the end: one flipped bit back gives a whole record.
  Write(Log(), Flipped(oldLog, second + 2, 6));
  ExpectRefused(Log(), second, "length is damaged");
}

// The test switch puts back the silent cut: the card starts and gives numbers a second time.
TEST_F(CardDamage, TheSilentRepairSwitchRollsTheCardBack) {
  Write(Log(), Flipped(LogBytes(), PayloadOf(1)));
  EngineOptions options = temp.Options();
  options.testSilentLogRepair = true;
  QorEngine card(options);
  ASSERT_FALSE(card.StartError()) << card.StartError()->English();
  EXPECT_EQ(std::filesystem::file_size(Log()), records[1].offset);
  Send(card, kSelectApp);
  EXPECT_EQ(SeqOf(Send(card, Sale(100))), 5u);  // given before: the fault the switch shows
}

}  // namespace
}  // namespace kasse::sim
