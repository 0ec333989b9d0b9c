// The card's files: where they live, one holder, the log, and the books that are committed
// before they are counted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <fstream>

#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "sim/books_log.h"
#include "sim/card_crypto.h"
#include "sim/card_state.h"
#include "sim/test_issuer.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::kSelectApp;
using testing::ReportCommand;
using testing::Sale;
using testing::SalesThenCrash;
using testing::Send;
using testing::SeqOf;
using testing::TempState;
using testing::Transaction;
using testing::Vat;

EngineOptions WithState(const std::filesystem::path& file) {
  EngineOptions options;
  options.stateFile = file;
  options.issuerFolder = file.parent_path() / "issuer";
  return options;
}

// The day's E1 turnover from an unsigned closing.
std::int64_t DayTurnover(QorEngine& card) {
  const auto report = Send(card, ReportCommand(0x02));
  const auto elements = SplitElements(report.data);
  if (!elements) return -1;
  for (const Element& e : *elements) {
    if (e.tag != 0xE1) continue;
    const auto inner = SplitElements(e.value);
    if (!inner) return -1;
    const auto amount = UnpackSignedAmount((*inner)[0].value);
    return amount ? *amount : -1;
  }
  return 0;
}

std::uintmax_t SizeOf(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

unsigned ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(CardFiles, CardKeepsKeysCountersAndTotalsAcrossRestarts) {
  TempState temp("restart");
  Bytes certificate;
  {
    QorEngine card(WithState(temp.File()));
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    certificate = card.CardCertificate();
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    const auto before = SizeOf(temp.File().string() + ".log");
    EXPECT_EQ(SeqOf(Send(card, Sale(100))), 1u);
    // In the log before the answer left the card.
    EXPECT_GT(SizeOf(temp.File().string() + ".log"), before);
    EXPECT_EQ(SeqOf(Send(card, Sale(200))), 2u);
  }
  QorEngine card(WithState(temp.File()));
  ASSERT_FALSE(card.StartError());
  EXPECT_EQ(card.CardCertificate(), certificate);
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  EXPECT_EQ(SeqOf(Send(card, Sale(400))), 3u);
  EXPECT_EQ(DayTurnover(card), 700);
}

TEST(CardFiles, PrivateFilesAreOwnerOnlyAndTheKeyIsWrittenOnce) {
  TempState temp("modes");
  { QorEngine card(WithState(temp.File())); }
  const std::string file = temp.File().string();
  const auto key = ReadFile(file + ".key").value();
  for (const std::string& path : {file, file + ".key", file + ".log", file + ".lock"}) {
    EXPECT_EQ(ModeOf(path), 0600u) << path;
  }
  const auto cert = ReadFile(file + ".cert").value();
  ASSERT_GT(cert.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(cert[0]), 0x30);
  {
    QorEngine card(WithState(temp.File()));
    Send(card, kSelectApp);
    ASSERT_EQ(Send(card, Sale(100)).sw, 0x9000);
  }
  EXPECT_EQ(ReadFile(file + ".key").value(), key);
  // No temporary file is left behind.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(temp.Folder())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 6);  // the card's five files and the test issuer's folder
}

TEST(CardFiles, FailuresNameThePathAndTheSystemsReason) {
  TempState temp("unusable");
  const auto blocker = temp.Folder() / "qor-sim";
  ASSERT_TRUE(WriteFileAtomic(blocker, "a program, not a folder"));
  QorEngine card(WithState(blocker / "card-v2.state"));
  ASSERT_TRUE(card.StartError());
  EXPECT_NE(card.StartError()->English().find(blocker.string() + ": Not a directory"),
            std::string::npos)
      << card.StartError()->English();
  EXPECT_EQ(Send(card, kSelectApp).sw, 0x6F00);
}

TEST(CardFiles, OneHolderAtATime) {
  TempState temp("lock");
  {
    QorEngine first(WithState(temp.File()));
    ASSERT_FALSE(first.StartError());
    QorEngine second(WithState(temp.File()));
    ASSERT_TRUE(second.StartError());
    const std::string& message = second.StartError()->English();
    EXPECT_NE(message.find("the card is in use by process " + std::to_string(::getpid())),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(temp.File().string() + ".lock"), std::string::npos) << message;
    EXPECT_EQ(Send(second, kSelectApp).sw, 0x6F00);
  }
  QorEngine again(WithState(temp.File()));
  EXPECT_FALSE(again.StartError());
}

TEST(CardFiles, DamagedOrMissingBooksAreNeverReplacedByAFreshCard) {
  TempState temp("damaged");
  {
    QorEngine card(WithState(temp.File()));
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    ASSERT_EQ(Send(card, Sale(100)).sw, 0x9000);
  }
  const std::string text = ReadFile(temp.File()).value();
  for (const std::string& damaged : {text.substr(0, text.size() / 2), std::string("garbage")}) {
    ASSERT_TRUE(WriteFileAtomic(temp.File(), damaged));
    QorEngine card(WithState(temp.File()));
    EXPECT_TRUE(card.StartError());
    EXPECT_EQ(Send(card, kSelectApp).sw, 0x6F00);
    EXPECT_EQ(ReadFile(temp.File()).value(), damaged);
  }
  // Books gone while the log still holds what the card answered.
  ASSERT_TRUE(WriteFileAtomic(temp.File(), text));
  SalesThenCrash(WithState(temp.File()), 1);
  std::filesystem::remove(temp.File());
  QorEngine card(WithState(temp.File()));
  ASSERT_TRUE(card.StartError());
  EXPECT_NE(card.StartError()->English().find("log holds records"), std::string::npos);
}

TEST(CardFiles, OldFormatStateIsConvertedKeepingKeysAndBooks) {
  TempState temp("convert");
  auto issuer = TestIssuer::Open(temp.Folder() / "issuer");
  ASSERT_TRUE(issuer);
  const auto keys = CreateCardKeys(*issuer, "QOR-SIM", 7);
  ASSERT_TRUE(keys);
  const std::string old =
      "qor-sim-state 1\nlifecycle 3\ntpId QOR-SIM\ntpIdNo 7\npin 123456 3\n"
      "seq 41 3\nfirstMonth 202605\ndaySeq 40 41\nkey " +
      HexCompact(keys->privateKey) + "\ncert " + HexCompact(keys->certificate) + "\ncaCert " +
      HexCompact(keys->caCertificate) +
      "\nvat day 1 100 0 1900 0 0\nvat 202605 1 100 0 1900 0 0\nend\n";
  ASSERT_TRUE(WriteFileAtomic(temp.File(), old));
  {
    QorEngine card(WithState(temp.File()));
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    EXPECT_EQ(card.CardCertificate(), keys->certificate);
    EXPECT_EQ(card.CaCertificate(), keys->caCertificate);
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    const auto sale = Send(card, Sale(50));
    EXPECT_EQ(SeqOf(sale), 42u);
    EXPECT_EQ(DayTurnover(card), 150);
  }
  EXPECT_EQ(ReadFile(temp.File().string() + ".key").value(), ToText(keys->privateKey));
  const auto converted = ParseState(ReadFile(temp.File()).value());
  ASSERT_TRUE(converted);
  EXPECT_FALSE(converted->oldFormatKeys);
  EXPECT_EQ(converted->books.transactionSeq, 42u);
}

TEST(CardLog, KilledCardContinuesWithNothingLostAndNothingRepeated) {
  TempState temp("killed");
  SalesThenCrash(WithState(temp.File()), 3);
  // The crash came during the fourth append: half a record at the end of the log.
  const std::filesystem::path log = temp.File().string() + ".log";
  const auto good = SizeOf(log);
  const std::string torn = FrameRecord("seq 4 0\n");
  {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    out << torn.substr(0, torn.size() - 3);
  }
  QorEngine card(WithState(temp.File()));
  ASSERT_FALSE(card.StartError()) << card.StartError()->English();
  EXPECT_EQ(SizeOf(log), good);  // the torn record is cut off before anything follows it
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  EXPECT_EQ(SeqOf(Send(card, Sale(100))), 4u);
  EXPECT_EQ(DayTurnover(card), 400);
}

TEST(CardLog, SnapshotEveryIntervalAndAtShutdownEmptiesTheLog) {
  TempState temp("snapshot");
  const std::filesystem::path log = temp.File().string() + ".log";
  EngineOptions options = WithState(temp.File());
  options.snapshotEvery = 3;
  {
    QorEngine card(options);
    Send(card, kSelectApp);
    for (std::uint32_t n = 1; n <= 7; ++n)
      ASSERT_EQ(SeqOf(Send(card, Sale(10))), n);
    // Snapshots after records 3 and 6: one record in the log.
    EXPECT_EQ(ParseState(ReadFile(temp.File()).value())->books.transactionSeq, 6u);
    EXPECT_LT(SizeOf(log), 400u);
  }
  EXPECT_EQ(ParseState(ReadFile(temp.File()).value())->books.transactionSeq, 7u);
  QorEngine card(options);
  Send(card, kSelectApp);
  EXPECT_EQ(SeqOf(Send(card, Sale(10))), 8u);
  EXPECT_EQ(DayTurnover(card), 80);
}

// A failed write leaves the card exactly as before, in memory and on disk: the answer is
// 65 81, the number is not used up, the refused sale is in no total.
TEST(CommitBeforeCounting, FailedAppendChangesNothing) {
  enum class Fault { kShortWrite, kSyncFails };
  for (const Fault fault : {Fault::kShortWrite, Fault::kSyncFails}) {
    TempState temp("refused");
    const std::filesystem::path log = temp.File().string() + ".log";
    kasse::testing::FaultyFileIo io;
    std::vector<std::string> told;
    EngineOptions options = WithState(temp.File());
    options.io = &io;
    options.onWriteError = [&told](const Error& error) { told.push_back(error.English()); };
    // The next append fails: half of it reaches the file before the disk is full, or all of it
    // and the sync fails.
    const auto failNextAppend = [&] {
      if (fault == Fault::kShortWrite) {
        const int armed = io.writes;
        io.cutNextWrite = 20;
        io.writeFault = [armed](int call, std::string_view) {
          return call > armed + 1 ? ENOSPC : 0;
        };
      } else {
        const int armed = io.syncs;
        io.syncFault = [armed](int call) { return call == armed + 1 ? EIO : 0; };
      }
    };
    {
      QorEngine card(options);
      Send(card, kSelectApp);
      EXPECT_EQ(SeqOf(Send(card, Sale(100))), 1u);
      const auto size = SizeOf(log);
      failNextAppend();
      EXPECT_EQ(Send(card, Sale(5000)).sw, 0x6581);
      io.Heal();
      EXPECT_EQ(SizeOf(log), size);
      ASSERT_EQ(told.size(), 1u);
      EXPECT_NE(told[0].find(log.string() + ": "), std::string::npos) << told[0];
      EXPECT_EQ(DayTurnover(card), 100);
      EXPECT_EQ(SeqOf(Send(card, Sale(200))), 2u);
      // A report that could not be kept is refused too, and its number stays free.
      failNextAppend();
      EXPECT_EQ(Send(card, ReportCommand(0x01)).sw, 0x6581);
      io.Heal();
      EXPECT_EQ(DayTurnover(card), 300);
    }
    QorEngine card(WithState(temp.File()));
    Send(card, kSelectApp);
    EXPECT_EQ(SeqOf(Send(card, Sale(1))), 3u);
    EXPECT_EQ(DayTurnover(card), 301);
  }
}

}  // namespace
}  // namespace kasse::sim
