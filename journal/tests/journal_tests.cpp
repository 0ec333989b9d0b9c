#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "journal/journal.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;

QorParams CardParams(const std::string& certificate = "MIIBcert") {
  return QorParams{"T.1.1", "KAVELO0001", "42", certificate};
}

std::string Pending(const PendingText& pending) {
  auto text = pending.Text();
  return text ? *text : std::string("<unreadable>");
}

std::string Read(const fs::path& path) {
  auto text = ReadFile(path);
  return text ? *text : std::string("<unreadable>");
}

const std::string kParamsBlock =
    "<qorParams><qorVersion>T.1.1</qorVersion><tpId>KAVELO0001</tpId><tpIdNo>42</tpIdNo>"
    "<itemProfile>1</itemProfile><certificate>MIIBcert</certificate></qorParams>";

struct JournalTest : ::testing::Test {
  fs::path home = testing::FreshFolder();
  Journal journal{home, [] { return std::string("261206"); }};
  void SetUp() override {
    journal.SetParamsSource([] { return CardParams(); });
  }
};

TEST_F(JournalTest, FirstWriteOpensPairWithHeaderAndParameterBlock) {
  EXPECT_FALSE(journal.IsOpen());
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<transaction>"));
  EXPECT_EQ(journal.LName(), home / "Journal" / "261206XMLExpBak01L.xml");
  EXPECT_EQ(journal.SName(), home / "Journal" / "261206XMLExpBak01S.xml");
  EXPECT_EQ(kJournalHeader.size(), 118u);
  // The header and the block reach the file at once; the record waits for a flush.
  EXPECT_EQ(Read(journal.LName()), std::string(kJournalHeader) + kParamsBlock);
  ASSERT_TRUE(journal.Flush());
  EXPECT_EQ(Read(journal.LName()), std::string(kJournalHeader) + kParamsBlock + "<transaction>");
  EXPECT_EQ(Read(journal.SName()), std::string(kJournalHeader) + kParamsBlock);
  // The block goes to both files but is buffered once; frame text is not buffered at all.
  EXPECT_EQ(journal.PendingParams(), kParamsBlock);
  EXPECT_EQ(Pending(journal.PendingL()), "<transaction>");
  EXPECT_EQ(Pending(journal.PendingS()), "");
}

TEST_F(JournalTest, PairsOfADayAreNumberedUpTo99) {
  ASSERT_TRUE(journal.OpenJournalPair());
  {
    Journal second(home, [] { return std::string("261206"); });
    ASSERT_TRUE(second.OpenJournalPair());
    EXPECT_EQ(second.LName().filename(), "261206XMLExpBak02L.xml");
  }
  for (int number = 3; number <= 99; ++number) {
    const std::string digits = (number < 10 ? "0" : "") + std::to_string(number);
    ASSERT_TRUE(WriteFileAtomic(home / "Journal" / ("261206XMLExpBak" + digits + "L.xml"), ""));
  }
  Journal full(home, [] { return std::string("261206"); });
  const auto written = full.JournalWrite(kJournalBoth, JournalSection::kRecord, "<x/>");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().kind, ErrorKind::kIo);
  EXPECT_FALSE(full.IsOpen());
  EXPECT_EQ(Pending(full.PendingS()), "");
}

TEST_F(JournalTest, SectionsAndTargetsFillTheRightBuffers) {
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<a/>"));
  ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<b/>"));
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kParams, "<p/>"));
  ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kFrame, "<f/>"));
  EXPECT_EQ(Pending(journal.PendingS()), "<a/><b/>");
  EXPECT_EQ(Pending(journal.PendingL()), "<b/>");
  EXPECT_EQ(journal.PendingParams(), kParamsBlock + "<p/>");
  ASSERT_TRUE(journal.Flush());
  EXPECT_THAT(Read(journal.SName()), EndsWith("<a/><b/><f/>"));
  EXPECT_THAT(Read(journal.LName()), EndsWith("<b/><p/><f/>"));
}

TEST_F(JournalTest, ItemHashAndClosingTagMakeWellFormedFiles) {
  const Bytes hash = {0x00, 0xAB, 0x10};
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<transaction>"));
  ASSERT_TRUE(
      journal.WriteItemHash("<itemList><item><name>Salz &amp; Pfeffer</name></item>"
                            "</itemList>",
                            hash));
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "</transaction>"));
  ASSERT_TRUE(journal.Flush());
  EXPECT_THAT(Read(journal.LName()),
              EndsWith("</itemList><hashTransactionItems>00AB10</hashTransactionItems>"
                       "</transaction>"));
  const fs::path lName = journal.LName(), sName = journal.SName();
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_FALSE(journal.IsOpen());
  EXPECT_EQ(Pending(journal.PendingL()), "");
  EXPECT_THAT(Read(lName), EndsWith("</transaction></kavelo>"));
  EXPECT_TRUE(testing::WellFormedXml(lName));
  EXPECT_TRUE(testing::WellFormedXml(sName));
}

TEST(ExportNames, LetterGoesBeforeTheFileNamesDot) {
  const struct {
    const char* chosen;
    const char* sName;
    const char* lName;
  } cases[] = {
      {"/x/Export/tag.xml", "/x/Export/tagS.xml", "/x/Export/tagL.xml"},
      {"/x/Export/tagL.xml", "/x/Export/tagS.xml", "/x/Export/tagL.xml"},
      {"/x/Export/tagS.xml", "/x/Export/tagS.xml", "/x/Export/tagL.xml"},
      {"/x/my.folder/tag.xml", "/x/my.folder/tagS.xml", "/x/my.folder/tagL.xml"},
      {"/x/Export/noext", "/x/Export/noextS", "/x/Export/noextL"},
  };
  for (const auto& c : cases) {
    const auto [sName, lName] = ExportNames(c.chosen);
    EXPECT_EQ(sName, c.sName) << c.chosen;
    EXPECT_EQ(lName, c.lName) << c.chosen;
  }
}

TEST(FindClosingTag, FindsTagAndCollectsCertificateIds) {
  std::string known;
  const std::string text =
      "<kavelo>a > b<certificateId>ID1</certificateId><certificate>C2</certificate></kavelo>";
  EXPECT_EQ(FindClosingTag(text, known), text.size() - 9);
  EXPECT_EQ(known, ";ID1;C2;");
  EXPECT_EQ(FindClosingTag("<kavelo><x>", known), std::nullopt);
  EXPECT_EQ(known, ";");
}

struct ExportTest : JournalTest {
  fs::path chosen = home / "Export" / "tag.xml";
  fs::path sName = home / "Export" / "tagS.xml";
  fs::path lName = home / "Export" / "tagL.xml";
  void SetUp() override {
    JournalTest::SetUp();
    fs::create_directories(home / "Export");
  }
};

TEST_F(ExportTest, NewPairTakesPendingRecordsAndTheBlockOnce) {
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<transaction/>"));
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<transactionEncoded/>"));
  ASSERT_TRUE(journal.ExportNew(chosen));
  EXPECT_EQ(Read(lName),
            std::string(kJournalHeader) + "<transaction/>" + kParamsBlock + "</kavelo>");
  EXPECT_EQ(Read(sName),
            std::string(kJournalHeader) + "<transactionEncoded/>" + kParamsBlock + "</kavelo>");
  EXPECT_EQ(journal.PendingParams(), "");
  EXPECT_EQ(Pending(journal.PendingL()), "");

  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<report/>"));
    ASSERT_TRUE(journal.ExportFlush());
  }
  // Below the threshold the records wait in PendingL.
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<x/>"));
  ASSERT_TRUE(journal.ExportFlushIfDue());
  EXPECT_EQ(Pending(journal.PendingL()), "<x/>");
  const std::string large(Journal::kFlushThreshold, 'x');
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, large));
  ASSERT_TRUE(journal.ExportFlushIfDue());
  EXPECT_EQ(Pending(journal.PendingL()), "");
  EXPECT_THAT(Read(lName), EndsWith("<x/>" + large + "</kavelo>"));
  journal.ResetExportBuffers();
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<report/>"));
  const std::string lText = Read(lName);
  EXPECT_EQ(testing::Occurrences(lText, "</kavelo>"), 1u);
  EXPECT_THAT(lText, HasSubstr("</qorParams><report/><report/><report/><x/>"));
  EXPECT_TRUE(testing::WellFormedXml(lName));
  EXPECT_TRUE(testing::WellFormedXml(sName));
}

TEST_F(ExportTest, ReopenedPairGetsNoSecondBlockOfTheSameCard) {
  ASSERT_TRUE(journal.OpenJournalPair());
  ASSERT_TRUE(journal.ExportNew(chosen));
  {
    Journal later(home, [] { return std::string("261207"); });
    later.SetParamsSource([] { return CardParams(); });
    ASSERT_TRUE(later.JournalWrite(kJournalL, JournalSection::kRecord, "<transaction/>"));
    ASSERT_TRUE(later.ExportOpen(chosen));
    EXPECT_EQ(later.PendingParams(), "");
    EXPECT_EQ(later.KnownCertificateIds(), ";MIIBcert;");
    ASSERT_TRUE(later.ExportFlush());
  }
  EXPECT_EQ(testing::Occurrences(Read(lName), "<qorParams>"), 1u);
  EXPECT_THAT(Read(lName), EndsWith("</qorParams><transaction/></kavelo>"));

  // Another card's block is placed once more.
  Journal other(home, [] { return std::string("261208"); });
  other.SetParamsSource([] { return CardParams("MIIBother"); });
  ASSERT_TRUE(other.OpenJournalPair());
  ASSERT_TRUE(other.ExportOpen(chosen));
  EXPECT_EQ(testing::Occurrences(Read(lName), "<qorParams>"), 2u);
  EXPECT_EQ(testing::Occurrences(Read(sName), "<qorParams>"), 2u);
}

TEST_F(ExportTest, FlushRepairsAnExportFileWithoutOrAfterItsClosingTag) {
  ASSERT_TRUE(WriteFileAtomic(lName, std::string(kJournalHeader) + "<old/>"));
  ASSERT_TRUE(WriteFileAtomic(sName, std::string(kJournalHeader) + "</kavelo>\n\ntrailing"));
  ASSERT_TRUE(journal.ExportOpen(chosen));
  ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<new/>"));
  ASSERT_TRUE(journal.ExportFlush());
  EXPECT_THAT(Read(lName), EndsWith("<old/><new/>" + kParamsBlock + "</kavelo>"));
  EXPECT_EQ(Read(sName), std::string(kJournalHeader) + "<new/>" + kParamsBlock + "</kavelo>");
  EXPECT_TRUE(testing::WellFormedXml(sName));
}

TEST_F(ExportTest, MissingExportFileIsAnErrorAndResetForgetsThePair) {
  ASSERT_TRUE(journal.ExportNew(chosen));
  fs::remove(lName);
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "<x/>"));
  EXPECT_FALSE(journal.ExportFlush());
  journal.ResetExportBuffers();
  EXPECT_FALSE(journal.HasExportPair());
  EXPECT_EQ(Pending(journal.PendingL()), "");
  EXPECT_TRUE(journal.ExportFlush());  // nothing attached: nothing to do
}

}  // namespace
}  // namespace kasse
