#include <gtest/gtest.h>

#include "card/tests/session_fixture.h"
#include "common/base_n.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
using testing::SessionFixture;
using Lines = std::vector<std::string>;

TEST(CardScan, FindsTheQorInTheSecondReader) {
  SessionFixture f;
  f.pcsc.AddReader("R1", {{testing::kSelectQor, "6A 82", "// No QOR application here."}});
  f.pcsc.AddReader("R2", {{testing::kSelectQor, "90 00", "// SELECT QOR application."}});
  EXPECT_TRUE(f.session.StartCard());
  EXPECT_EQ(f.Log(),
            (Lines{"Start-Card", "Anzahl der angeschlossenen Leser 02", "Teste Leseger\xE4t ", "R1",
                   "QOR-Anwendung ausw\xE4hlen", "keine QOR in R1", "Teste Leseger\xE4t ", "R2",
                   "QOR-Anwendung ausw\xE4hlen", "QOR gefunden in R2"}));
  EXPECT_EQ(f.connector.SelectedReader(), "R2");
  EXPECT_TRUE(f.connector.Connected());
  EXPECT_TRUE(f.connector.Opened());
  EXPECT_FALSE(f.session.CardBusy());
  EXPECT_TRUE(f.session.DebounceRunning());
  EXPECT_EQ(f.pcsc.OpenContexts(), 2);  // the session's and the watcher's
}

TEST(CardScan, ReaderWithoutTheApplicationFails) {
  SessionFixture f;
  f.pcsc.AddReader("R1", {{testing::kSelectQor, "6A 82", "// No QOR application here."}});
  const Result<void> started = f.session.StartCard();
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error().English(), "no QOR card found or the card does not answer");
  const Lines log = f.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "keine QOR in R1");
  EXPECT_EQ(log.back(), "Verbindung zur Karte kann nicht hergestellt werden ");
  EXPECT_EQ(f.monitor.Lines().back().colour, kMonitorRed);
  EXPECT_FALSE(f.session.DebounceRunning());
}

TEST(CardScan, EmptyReaderAndNoReaderFail) {
  SessionFixture f;
  const Result<void> noReader = f.session.StartCard();
  ASSERT_FALSE(noReader);
  EXPECT_EQ(noReader.error().English(), "no card reader is connected");
  EXPECT_EQ(f.Log().back(), "Anzahl der angeschlossenen Leser 00");
  f.pcsc.AddReader("R1", {}, pcsc::kStateEmpty);
  EXPECT_FALSE(f.session.StartCard());
  EXPECT_EQ(f.Log().back(),
            "Leseger\xE4t kann nicht ge\xF6"
            "ffnet werden ");
}

TEST(CardStatus, ReadsAllObjectsOfALevelTwoCard) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, testing::StatusSteps(0x03, 2));
  ASSERT_TRUE(f.session.ReadCardStatus());
  const CardState& state = f.session.State();
  EXPECT_EQ(state.LifeCycle, "03 - aktiviert");
  EXPECT_EQ(state.Version, "T.2.0");
  EXPECT_EQ(state.TpId, "KASSE001");
  EXPECT_EQ(state.TpIdNo, "300");
  EXPECT_EQ(state.statusItems, (std::array<std::string, 5>{"ABCD", "256", "12/2026", "5", "7"}));
  EXPECT_EQ(state.VersionLevel, 2);
  EXPECT_EQ(state.HashLength, "20");
  EXPECT_EQ(state.Algorithms, "01 0A0B FF");
  EXPECT_EQ(state.LastResponse, HexParse("C1 01 01 C2 02 0A 0B C3 01 FF"));
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

TEST(CardStatus, StatusSheetListsElevenValuesOnALevelTwoCard) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, testing::StatusSteps(0x04, 2));
  f.session.SetLanguageCode("fr");
  EXPECT_EQ(f.session.QORStateClick(),
            (Lines{"04 - deactiv\xE9", "T.2.0", "KASSE001", "300", "ABCD", "256", "12/2026", "5",
                   "7", "20", "01 0A0B FF"}));
  f.pcsc.Script(0, testing::StatusSteps(0x03, 1));
  EXPECT_EQ(f.session.QORStateClick().size(), 9u);
}

TEST(CardStatus, LevelOneCardSkipsHashParameters) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, testing::StatusSteps(0x02, 1));
  f.session.SetLanguageCode("uk");
  ASSERT_TRUE(f.session.ReadCardStatus());
  EXPECT_EQ(f.session.State().VersionLevel, 1);
  EXPECT_EQ(f.session.State().LifeCycle, "02 - personalized");
  EXPECT_EQ(f.session.State().HashLength, "");
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
  // A level-1 card read after a level-2 one shows none of the other card's hash parameters.
  f.pcsc.Script(0, testing::StatusSteps(0x03, 2));
  ASSERT_TRUE(f.session.ReadCardStatus());
  f.pcsc.Script(0, testing::StatusSteps(0x03, 1));
  ASSERT_TRUE(f.session.ReadCardStatus());
  EXPECT_EQ(f.session.State().HashLength, "");
  EXPECT_EQ(f.session.State().Algorithms, "");
}

TEST(CardStatus, D5ObjectChangesNothingShown) {
  const auto plain = ParseCardStatus(HexParse(testing::StatusData(3, "T.2.0")), "");
  const auto withD5 = ParseCardStatus(HexParse(testing::StatusData(3, "T.2.0", true)), "");
  ASSERT_TRUE(plain && withD5);
  EXPECT_EQ(plain->statusItems, withD5->statusItems);
  EXPECT_EQ(plain->TpIdNo, withD5->TpIdNo);
}

TEST(CardStatus, TruncatedAnswerFailsAndKeepsTheState) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, testing::StatusSteps(0x03, 1));
  ASSERT_TRUE(f.session.ReadCardStatus());
  const std::string full = testing::StatusData(0x04, "T.1.1");
  for (std::size_t cut : {2u, 9u, 30u}) {
    const Bytes bytes = HexParse(full);
    f.pcsc.Script(
        0, {{"00 CA 01 F1 00", HexWritten(ByteSpan(bytes).first(bytes.size() - cut)) + " 90 00",
             "// Status answer cut short."}});
    EXPECT_FALSE(f.session.ReadCardStatus()) << cut;
    EXPECT_EQ(f.session.State().LifeCycle, "03 - aktiviert");
  }
  EXPECT_FALSE(ParseCardStatus(Bytes{}, "").has_value());
  // The error names where the object that could not be read starts: the ninth, at 43.
  const Bytes bytes = HexParse(full);
  const Result<CardState> cut = ParseCardStatus(ByteSpan(bytes).first(bytes.size() - 2), "");
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error().kind, ErrorKind::kMalformed);
  EXPECT_EQ(cut.error().offset, 43u);
  EXPECT_FALSE(ParseAlgorithms(Bytes{0xC1, 0x01, 0x01, 0xC2, 0x05, 0x0A}));
}

TEST(CardStatus, LifecycleWordsAndVersionLevels) {
  EXPECT_EQ(LifeCycleWord("01", "fr"), " - initialis\xE9");
  EXPECT_EQ(LifeCycleWord("04", "uk"), " - deactivated");
  EXPECT_EQ(LifeCycleWord("05", "de"), " - undefiniert");
  EXPECT_EQ(LifeCycleWord("05", "fr"),
            " - non d\xE9"
            "fini");
  EXPECT_EQ(LifeCycleWord("03", "pl"), " - aktiviert");
  EXPECT_EQ(VersionLevelOf("QOR T.1.1"), 1);
  EXPECT_EQ(VersionLevelOf("QOR V.2.3"), 2);
  EXPECT_EQ(VersionLevelOf("T.2"), 2);
  EXPECT_EQ(VersionLevelOf("T.1.0"), 0);
}

TEST(CardCertificate, ReadsInBlocksWithAShortLastOne) {
  SessionFixture f;
  f.StartWithQor();
  const Bytes certificate = testing::Certificate(1000);
  auto steps = testing::CertificateSteps(certificate);
  EXPECT_EQ(steps.back().command, "00 B0 03 00 E8");
  f.pcsc.Script(0, steps);
  ASSERT_TRUE(f.session.LoadCertificate());
  EXPECT_EQ(f.session.State().Certificate, Base64Encode(certificate));
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

TEST(CardCertificate, LargerThanTheBufferFailsCleanly) {
  SessionFixture f;
  f.StartWithQor();
  const Bytes certificate = testing::Certificate(CardSession::kCertificateBuffer + 1);
  auto steps = testing::CertificateSteps(certificate);
  steps.resize(2);  // the first block states the length; nothing more is read
  f.pcsc.Script(0, steps);
  const Result<Bytes> read = f.session.ReadCertificate();
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().kind, ErrorKind::kTooLong);
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
  EXPECT_FALSE(f.session.CardBusy());
}

TEST(CardCertificate, FailedBlockOrEndlessFileFails) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, {{testing::kSelectCertificate, "6A 82", "// No certificate file."}});
  EXPECT_FALSE(f.session.LoadCertificate());
  const Bytes head = testing::Certificate(600);
  f.pcsc.Script(
      0, {{testing::kSelectCertificate, "90 00", "// SELECT certificate file."},
          {"00 B0 00 00 00", HexWritten(ByteSpan(head).first(256)) + " 90 00", "// First block."},
          {"00 B0 01 00 00", "90 00", "// The file ends early."}});
  const Result<Bytes> read = f.session.ReadCertificate();
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().kind, ErrorKind::kMalformed);
  EXPECT_EQ(read.error().offset, 256u);
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

std::string HashCommand(const char* cla, const Bytes& block) {
  char lc[3];
  std::snprintf(lc, sizeof lc, "%02X", static_cast<unsigned>(block.size()));
  return std::string(cla) + " 2A 90 80 " + lc + (block.empty() ? "" : " " + HexWritten(block)) +
         " 00";
}

TEST(CardHash, ChainsBlocksOf128Bytes) {
  const std::string digest = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14";
  for (std::size_t size : {0u, 128u, 129u, 300u}) {
    SessionFixture f;
    f.StartWithQor();
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
      data[i] = static_cast<Byte>(i);
    std::deque<testing::ApduStep> steps = {
        {testing::kSelectCertificate, "90 00", "// SELECT before hashing."}};
    std::size_t offset = 0;
    for (; size - offset > 128; offset += 128)
      steps.push_back({HashCommand("10", Bytes(data.begin() + offset, data.begin() + offset + 128)),
                       "90 00", "// Chained block."});
    steps.push_back({HashCommand("00", Bytes(data.begin() + offset, data.end())), digest + " 90 00",
                     "// Last block."});
    f.pcsc.Script(0, steps);
    const auto hash = f.session.HashOnCard(data);
    ASSERT_TRUE(hash.has_value()) << size;
    EXPECT_EQ(HexWritten(*hash), digest);
    EXPECT_TRUE(f.pcsc.ScriptDone(0)) << size;
    EXPECT_FALSE(f.session.CardBusy());
  }
}

TEST(CardHash, BusyWhileHashingAndFailureClearsBusy) {
  SessionFixture f;
  f.StartWithQor();
  std::optional<ErrorKind> nested;
  f.session.SetProcessMessages([&] {
    const Result<void> started = f.session.StartCard();
    if (!started) nested = started.error().kind;
  });
  const Bytes data(129, 0x41);
  f.pcsc.Script(0, {{testing::kSelectCertificate, "90 00", "// SELECT before hashing."},
                    {HashCommand("10", Bytes(128, 0x41)), "90 00", "// Chained block."},
                    {HashCommand("00", Bytes(1, 0x41)), "69 85", "// Refused."}});
  const Result<Sha1Digest> hash = f.session.HashOnCard(data);
  ASSERT_FALSE(hash);
  EXPECT_EQ(hash.error().English(), "the card refused the command with 6985");
  EXPECT_EQ(nested, ErrorKind::kBusy);
  EXPECT_FALSE(f.session.CardBusy());
}

}  // namespace
}  // namespace kasse
