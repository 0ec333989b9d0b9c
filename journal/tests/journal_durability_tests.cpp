// The journal on a failing disk and beside other journals: nothing is overwritten, nothing
// written is lost while the register runs, and the files stay well-formed.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "journal/journal.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

std::size_t EntriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}
using testing::FaultyFileIo;

std::string Today() {
  return "261207";
}

TEST(JournalPair, AHalfPairIsNeverReusedNorTruncated) {
  const fs::path home = testing::NewFolder("journal");
  fs::create_directories(home / "Journal");
  // The L file of pair 01 was moved aside; its S file still holds signed records.
  const fs::path oldS = home / "Journal" / "261207XMLExpBak01S.xml";
  ASSERT_TRUE(WriteFileAtomic(oldS, "<kavelo>signed</kavelo>"));
  ASSERT_TRUE(WriteFileAtomic(home / "Journal" / "261207XMLExpBak02L.xml", "other"));
  Journal journal(home, Today);
  ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<new/>"));
  EXPECT_EQ(journal.SName().filename(), "261207XMLExpBak03S.xml");
  EXPECT_EQ(ReadFile(oldS).value(), "<kavelo>signed</kavelo>");
  EXPECT_EQ(ReadFile(home / "Journal" / "261207XMLExpBak02L.xml").value(), "other");
  EXPECT_FALSE(fs::exists(home / "Journal" / "261207XMLExpBak02S.xml"));
}

// Another register on the same home creates a name between our look and our create: its file
// stays its own and this register takes the next free pair.
TEST(JournalPair, ANameTakenByAnotherRegisterJustNowIsLeftToIt) {
  for (const char* taken : {"261207XMLExpBak01S.xml", "261207XMLExpBak01L.xml"}) {
    const fs::path home = testing::NewFolder("journal");
    FaultyFileIo io;
    io.beforeOpen = [&](const fs::path& path) {
      if (path.filename() == taken && !fs::exists(path)) {
        ASSERT_TRUE(WriteFileAtomic(path, "theirs"));
      }
    };
    Journal journal(home, Today, io);
    ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<mine/>"));
    EXPECT_EQ(journal.SName().filename(), "261207XMLExpBak02S.xml");
    EXPECT_EQ(ReadFile(home / "Journal" / taken).value(), "theirs");
    // The half pair this register had begun is gone again, the other's half stays.
    EXPECT_EQ(fs::exists(home / "Journal" / "261207XMLExpBak01S.xml"),
              std::string(taken).ends_with("S.xml"));
  }
}

TEST(JournalPair, NothingIsCreatedBeforeTheFirstWrite) {
  const fs::path home = testing::NewFolder("journal");
  {
    Journal journal(home, Today);
    EXPECT_TRUE(journal.Sync());
  }
  EXPECT_FALSE(fs::exists(home / "Journal"));
}

TEST(JournalPair, CardTextIsEscapedInTheParameterBlock) {
  const fs::path home = testing::NewFolder("journal");
  Journal journal(home, Today);
  journal.SetParamsSource([] { return QorParams{"T.1<1", "</tpId>&", "4\"2", "MIIB"}; });
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<x/>"));
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = ReadFile(journal.SName()).value();
  EXPECT_NE(s.find("<qorVersion>T.1&lt;1</qorVersion><tpId>&lt;/tpId&gt;&amp;</tpId>"),
            std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(s, home / "check.xml"));
}

TEST(JournalSync, SyncsOnlyTheFilesWrittenSinceAndTheNewFolderOnce) {
  const fs::path home = testing::NewFolder("journal");
  FaultyFileIo io;
  Journal journal(home, Today, io);
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<request/>"));
  EXPECT_EQ(io.syncs, 0);  // a write alone never syncs
  ASSERT_TRUE(journal.Sync(kJournalS));
  // The home that got the new Journal folder, that folder with the new pair, the S file.
  EXPECT_EQ(io.folderSyncs, 2);
  EXPECT_EQ(io.syncs, 3);
  ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<answer/>"));
  ASSERT_TRUE(journal.Sync(kJournalBoth));
  EXPECT_EQ(io.syncs, 5);
  ASSERT_TRUE(journal.Sync(kJournalBoth));  // nothing new: nothing synced
  EXPECT_EQ(io.syncs, 5);
  EXPECT_EQ(io.folderSyncs, 2);
  EXPECT_TRUE(journal.WriteRecord(kJournalS, "<transactionLate/>"));
  EXPECT_EQ(io.syncs, 6);
}

// A sale's many small writes reach the OS as one call per file at each sync: the request's
// sync hands over the L file's opening too (a killed register keeps it) but waits for the S
// file only; text a record ends with without a sync goes out at Flush.
TEST(JournalSync, ASaleIsOneWritePerFileAtEachSync) {
  const fs::path home = testing::NewFolder("journal");
  FaultyFileIo io;
  Journal journal(home, Today, io);
  ASSERT_TRUE(journal.OpenJournalPair());
  ASSERT_TRUE(journal.Sync());
  const int writes = io.writes, syncs = io.syncs;
  journal.MarkRecordStart();
  std::string l;
  for (int part = 0; part < 20; ++part) {
    const std::string text = "<f" + std::to_string(part) + "/>";
    l += text;
    ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, text));
  }
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<request/>"));
  EXPECT_EQ(io.writes, writes);
  ASSERT_TRUE(journal.Sync(kJournalS));
  EXPECT_EQ(io.writes, writes + 2);
  EXPECT_EQ(io.syncs, syncs + 1);
  EXPECT_TRUE(ReadFile(journal.LName()).value().ends_with(l));
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<answer/>"));
  ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "</transaction>"));
  ASSERT_TRUE(journal.Sync(kJournalBoth));
  EXPECT_EQ(io.writes, writes + 4);
  EXPECT_EQ(io.syncs, syncs + 3);
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "<refused/>"));
  ASSERT_TRUE(journal.Flush());
  EXPECT_EQ(io.syncs, syncs + 3);
  EXPECT_TRUE(ReadFile(journal.SName()).value().ends_with("<answer/><refused/>"));
}

// A new pair's header and parameter block: handed over at once, one write per file.
constexpr int kHeaderWrites = 2;

// Every write and every sync of a record fails once, with a full disk and with an I/O error:
// the journal says so, keeps the text in order, and writes all of it at the next try.
TEST(JournalFailure, EveryFailedWriteOrSyncIsCaughtUpInOrder) {
  const std::string record[] = {"<transactionEncoded><transactionRequest>UkVR",
                                "</transactionRequest>", "<transactionResponse>QU5T",
                                "</transactionResponse></transactionEncoded>"};
  for (const int error : {ENOSPC, EIO}) {
    for (int failing = 1; failing <= 40; ++failing) {
      SCOPED_TRACE("call " + std::to_string(failing) + ", " + std::strerror(error));
      const fs::path home = testing::NewFolder("journal");
      FaultyFileIo io;
      io.writeFault = [&](int call, std::string_view) {
        return call == failing + kHeaderWrites ? error : 0;
      };
      io.syncFault = [&](int call) { return call == failing ? error : 0; };
      Journal journal(home, Today, io);
      bool failed = false;
      std::string expected;
      for (const std::string& part : record) {
        expected += part;
        if (!journal.JournalWrite(kJournalBoth, JournalSection::kRecord, part)) {
          failed = true;
          EXPECT_TRUE(journal.IsBehind());
        }
        Result<void> synced = journal.Sync();
        if (!synced) {
          failed = true;
          EXPECT_TRUE(journal.IsBehind());
          EXPECT_NE(synced.error().English().find(std::strerror(error)), std::string::npos);
        }
      }
      if (failing <= 4) {
        EXPECT_TRUE(failed);
      }
      // What reached the file is the start of the journal, never a part out of order.
      const std::string early = ReadFile(journal.SName()).value();
      io.Heal();
      ASSERT_TRUE(journal.Sync());
      EXPECT_FALSE(journal.IsBehind());
      ASSERT_TRUE(journal.CloseJournalPair());
      for (const fs::path& file : {journal.SName(), journal.LName()}) {
        const std::string text = ReadFile(file).value();
        EXPECT_EQ(text.rfind(early, 0), 0u);
        EXPECT_NE(text.find(expected + std::string(kJournalClosingTag)), std::string::npos);
        EXPECT_TRUE(testing::WellFormedXml(text, home / "check.xml"));
      }
    }
  }
}

// A pair whose header cannot be written holds nothing: it goes again, its number stays free,
// and the record that wanted it is refused whole (no later part of it may land in a pair
// without its start); the next record gets pair 01.
TEST(JournalFailure, APairWhoseHeaderCannotBeWrittenIsRemovedAndItsRecordRefused) {
  for (int failing = 1; failing <= kHeaderWrites; ++failing) {
    SCOPED_TRACE("write " + std::to_string(failing));
    const fs::path home = testing::NewFolder("journal");
    FaultyFileIo io;
    io.writeFault = [&](int call, std::string_view) { return call == failing ? ENOSPC : 0; };
    Journal journal(home, Today, io);
    journal.MarkRecordStart();
    EXPECT_FALSE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<transaction>"));
    EXPECT_FALSE(journal.IsOpen());
    EXPECT_FALSE(journal.IsBehind());
    EXPECT_EQ(EntriesIn(home / "Journal"), 0u);
    io.Heal();
    // The rest of the refused record never lands anywhere.
    EXPECT_FALSE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "</transaction>"));
    EXPECT_EQ(EntriesIn(home / "Journal"), 0u);
    journal.MarkRecordStart();
    ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<x/>"));
    EXPECT_EQ(journal.SName().filename(), "261207XMLExpBak01S.xml");
    ASSERT_TRUE(journal.CloseJournalPair());
    EXPECT_TRUE(testing::WellFormedXml(ReadFile(journal.SName()).value(), home / "check.xml"));
  }
}

TEST(JournalFailure, AWriteCutShortKeepsOnlyItsUnwrittenRest) {
  const fs::path home = testing::NewFolder("journal");
  FaultyFileIo io;
  Journal journal(home, Today, io);
  ASSERT_TRUE(journal.OpenJournalPair());
  const std::string before = ReadFile(journal.SName()).value();
  // The first 10 bytes reach the file, then the disk is full.
  io.cutNextWrite = 10;
  const int firstCall = io.writes + 1;
  io.writeFault = [firstCall](int call, std::string_view) { return call > firstCall ? ENOSPC : 0; };
  const std::string text = "<transactionResponse>QU5T</transactionResponse>";
  ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, text));
  EXPECT_FALSE(journal.Flush());
  EXPECT_TRUE(journal.IsBehind());
  EXPECT_EQ(ReadFile(journal.SName()).value(), before + text.substr(0, 10));
  io.Heal();
  ASSERT_TRUE(journal.Sync());
  EXPECT_EQ(ReadFile(journal.SName()).value(), before + text);
}

}  // namespace
}  // namespace kasse
