// The export pair's pending text past its threshold, in a file of the state folder, and the
// export pair's refusal to take over files that exist.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "journal/journal.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

// Remembers the descriptor of every file opened in the state folder.
class SpillWatch : public testing::FaultyFileIo {
 public:
  explicit SpillWatch(fs::path folder) : folder_(std::move(folder)) {}
  int Open(const fs::path& path, int flags, mode_t mode) override {
    const int fd = FaultyFileIo::Open(path, flags, mode);
    if (fd >= 0 && path.parent_path() == folder_) spills.push_back({path, fd});
    return fd;
  }
  struct Opened {
    fs::path path;
    int fd;
  };
  std::vector<Opened> spills;

 private:
  fs::path folder_;
};

std::string Read(const fs::path& path) {
  auto text = ReadFile(path);
  return text ? *text : std::string("<unreadable>");
}

// A register's journal in miniature: the same records, written with or without a spill.
struct JournalRun {
  explicit JournalRun(const std::string& name, std::size_t inMemory = 0)
      : home(testing::FreshFolder(name)), state(home / "state"), io(state) {
    if (inMemory > 0) journal.SpillPendingInto(state, inMemory);
    journal.SetParamsSource([] { return QorParams{"T.1.1", "QOR", "7", "MIIBcert"}; });
    fs::create_directories(home / "Export");
  }
  // Records of all sizes, some written to both files and some to one.
  void Records(int from, int to) {
    for (int i = from; i < to; ++i) {
      journal.MarkRecordStart();
      const std::string n = std::to_string(i);
      ASSERT_TRUE(journal.JournalWrite(
          kJournalS, JournalSection::kRecord,
          "<transactionEncoded>" + std::string(i % 97, 'S') + n + "</transactionEncoded>"));
      ASSERT_TRUE(journal.JournalWrite(
          kJournalL, JournalSection::kRecord,
          "<transaction><seq>" + n + "</seq>" + std::string(i % 89, 'L') + "</transaction>"));
      if (i % 10 == 0) {
        ASSERT_TRUE(journal.JournalWrite(kJournalBoth, JournalSection::kRecord, "<report/>"));
      }
    }
  }
  fs::path Chosen() const { return home / "Export" / "tag.xml"; }

  fs::path home, state;
  SpillWatch io;
  Journal journal{home, [] { return std::string("261207"); }, io};
};

TEST(PendingSpill, PastItsThresholdTheTextWaitsInAPrivateUnnamedFile) {
  JournalRun spilled("spilled", 64);
  spilled.Records(0, 200);
  EXPECT_TRUE(spilled.journal.PendingS().Spilled());
  EXPECT_TRUE(spilled.journal.PendingL().Spilled());
  ASSERT_EQ(spilled.io.spills.size(), 2u);  // one file for S, one for L
  for (const SpillWatch::Opened& spill : spilled.io.spills) {
    struct stat info {};
    ASSERT_EQ(::fstat(spill.fd, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << spill.path;
    EXPECT_EQ(info.st_nlink, 0u) << spill.path << " still has a name";
    EXPECT_GT(static_cast<std::size_t>(info.st_size), 64u);
  }
  EXPECT_TRUE(fs::is_empty(spilled.state));

  // The same run in memory: the export pair comes out byte for byte the same.
  JournalRun inMemory("in_memory");
  inMemory.Records(0, 200);
  EXPECT_FALSE(inMemory.journal.PendingL().Spilled());
  EXPECT_EQ(spilled.journal.PendingL().Text().value(), inMemory.journal.PendingL().Text().value());
  for (JournalRun* run : {&spilled, &inMemory}) {
    ASSERT_TRUE(run->journal.ExportNew(run->Chosen()));
    EXPECT_TRUE(run->journal.PendingL().Empty());
    run->Records(200, 300);
    ASSERT_TRUE(run->journal.ExportFlush());
  }
  for (const char* name : {"tagS.xml", "tagL.xml"}) {
    EXPECT_EQ(Read(spilled.home / "Export" / name), Read(inMemory.home / "Export" / name)) << name;
    EXPECT_TRUE(testing::WellFormedXml(spilled.home / "Export" / name));
  }
  const std::string exported = Read(spilled.home / "Export" / "tagL.xml");
  for (const int seq : {0, 1, 150, 199, 200, 299})
    EXPECT_NE(exported.find("<seq>" + std::to_string(seq) + "</seq>"), std::string::npos) << seq;
  // The flush took the text, and the files with it.
  EXPECT_FALSE(spilled.journal.PendingL().Spilled());
  EXPECT_TRUE(spilled.journal.PendingS().Empty());
}

TEST(PendingSpill, ASpillFileThatCannotBeMadeKeepsTheTextInMemory) {
  JournalRun run("no_state_folder", 64);
  // A file where the state folder should be: no spill file can be made there.
  ASSERT_TRUE(WriteFileAtomic(run.state, "not a folder"));
  run.Records(0, 50);
  EXPECT_FALSE(run.journal.PendingL().Spilled());
  ASSERT_TRUE(run.journal.ExportNew(run.Chosen()));
  const std::string exported = Read(run.home / "Export" / "tagL.xml");
  EXPECT_NE(exported.find("<seq>0</seq>"), std::string::npos);
  EXPECT_NE(exported.find("<seq>49</seq>"), std::string::npos);
}

TEST(PendingSpill, AWriteThatFailsHalfWayKeepsTheRestInMemory) {
  JournalRun run("cut_spill", 256);
  run.Records(0, 5);
  // The first write into the spill file is cut short, the rest of it fails (a full disk), and
  // then the disk has room again. The journal's own appends are shorter than 200 bytes.
  int spillWrites = 0;
  run.io.writeFault = [&run, &spillWrites](int, std::string_view data) {
    if (data.size() <= 200) return 0;
    if (++spillWrites == 1) run.io.cutNextWrite = 10;
    return spillWrites == 2 ? ENOSPC : 0;
  };
  run.Records(5, 120);
  EXPECT_GE(spillWrites, 3);
  EXPECT_TRUE(run.journal.PendingL().Spilled());
  ASSERT_TRUE(run.journal.ExportNew(run.Chosen()));
  JournalRun reference("cut_reference");
  reference.Records(0, 120);
  ASSERT_TRUE(reference.journal.ExportNew(reference.Chosen()));
  EXPECT_EQ(Read(run.home / "Export" / "tagL.xml"), Read(reference.home / "Export" / "tagL.xml"));
  EXPECT_EQ(Read(run.home / "Export" / "tagS.xml"), Read(reference.home / "Export" / "tagS.xml"));
}

TEST(ExportNewPair, RefusesEitherFileThatExistsAndLeavesItAsItWas) {
  for (const char* present : {"tagS.xml", "tagL.xml"}) {
    JournalRun run(std::string("refuse_") + present);
    run.Records(0, 3);
    const fs::path there = run.home / "Export" / present;
    ASSERT_TRUE(WriteFileAtomic(there, "someone else's"));
    const Result<void> refused = run.journal.ExportNew(run.Chosen());
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().English().find(there.string()), std::string::npos)
        << refused.error().English();
    EXPECT_EQ(Read(there), "someone else's");
    EXPECT_EQ(std::distance(fs::directory_iterator(run.home / "Export"), {}), 1);  // no other
    EXPECT_FALSE(run.journal.HasExportPair());
    EXPECT_FALSE(run.journal.PendingL().Empty());  // the records still wait
  }
}

// The closing tag is found in a file read in pieces of 64 KiB, also where it spans two of them,
// and a tag far longer than any it looks for does not hide it.
TEST(ExportOpenPair, FlushFindsTheClosingTagWhereverItStands) {
  for (const std::size_t at : {std::size_t{65536} - 4, std::size_t{65536}, std::size_t{200000}}) {
    JournalRun run("span_" + std::to_string(at));
    std::string before(kJournalHeader);
    before += "<note " + std::string(1000, 'x') + ">";
    before += std::string(at - before.size(), 'y');
    const fs::path lName = run.home / "Export" / "tagL.xml";
    ASSERT_TRUE(WriteFileAtomic(lName, before + "</kavelo>trailing</kavelo>"));
    ASSERT_TRUE(run.journal.ExportOpen(run.Chosen()));
    run.Records(0, 1);
    ASSERT_TRUE(run.journal.ExportFlush());
    const std::string after = Read(lName);
    ASSERT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(after.substr(before.size()),
              "<transaction><seq>0</seq></transaction><report/><qorParams><qorVersion>T.1.1"
              "</qorVersion><tpId>QOR</tpId><tpIdNo>7</tpIdNo><itemProfile>1</itemProfile>"
              "<certificate>MIIBcert</certificate></qorParams></kavelo>");
  }
}

TEST(ExportOpenPair, RefusesWhatIsNoRegularFile) {
  JournalRun run("open_folder");
  fs::create_directories(run.home / "Export" / "tagL.xml");
  const Result<void> refused = run.journal.ExportOpen(run.Chosen());
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().English().find("tagL.xml"), std::string::npos);
  EXPECT_FALSE(run.journal.HasExportPair());
}

}  // namespace
}  // namespace kasse
