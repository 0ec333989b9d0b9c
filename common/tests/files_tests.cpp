#include "common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/ini_file.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

std::size_t EntriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(WriteFileAtomic, NeverFollowsALinkPlantedAtTheOldTemporaryName) {
  const fs::path folder = testing::NewFolder("files");
  ASSERT_TRUE(WriteFileAtomic(folder / "victim", "precious"));
  fs::create_symlink(folder / "victim", folder / "list.xml.tmp");
  ASSERT_TRUE(WriteFileAtomic(folder / "list.xml", "<itemList/>"));
  EXPECT_EQ(ReadFile(folder / "victim").value(), "precious");
  EXPECT_EQ(ReadFile(folder / "list.xml").value(), "<itemList/>");
  EXPECT_EQ(EntriesIn(folder), 3u);  // no temporary file left behind
}

TEST(WriteFileAtomic, TheReplacedFileKeepsItsMode) {
  const fs::path folder = testing::NewFolder("files");
  ASSERT_TRUE(WriteFileAtomic(folder / "secret", "one"));
  ASSERT_EQ(::chmod((folder / "secret").c_str(), 0600), 0);
  ASSERT_TRUE(WriteFileAtomic(folder / "secret", "two"));
  struct stat info {};
  ASSERT_EQ(::stat((folder / "secret").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFile(folder / "secret").value(), "two");
}

TEST(WriteFileAtomic, AFailedWriteOrSyncKeepsTheOldContentsAndSaysWhy) {
  const fs::path folder = testing::NewFolder("files");
  ASSERT_TRUE(WriteFileAtomic(folder / "start.ini", "old"));
  for (const int error : {ENOSPC, EIO}) {
    testing::FaultyFileIo io;
    io.writeFault = [error](int, std::string_view) { return error; };
    Result<void> written =
        WriteFileAtomic(folder / "start.ini", "new", Durability::kSyncAndRename, io);
    ASSERT_FALSE(written);
    EXPECT_NE(written.error().message.find(std::strerror(error)), std::string::npos);
    EXPECT_EQ(ReadFile(folder / "start.ini").value(), "old");
    EXPECT_EQ(EntriesIn(folder), 1u);
  }
  // The folder sync after the rename is what makes the new name durable: its failure counts.
  testing::FaultyFileIo io;
  io.syncFault = [&io](int) { return io.folderSyncs > 0 ? EIO : 0; };
  Result<void> written =
      WriteFileAtomic(folder / "start.ini", "new", Durability::kSyncAndRename, io);
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().message.find("sync the folder " + folder.string()), std::string::npos);
}

TEST(ReadFile, RefusesWhatIsNotARegularFileAndFilesAboveTheCap) {
  const fs::path folder = testing::NewFolder("files");
  ASSERT_EQ(::mkfifo((folder / "fifo.ini").c_str(), 0600), 0);
  // Would block for ever on a FIFO nobody writes to.
  Result<std::string> fifo = ReadFile(folder / "fifo.ini");
  ASSERT_FALSE(fifo);
  EXPECT_NE(fifo.error().message.find("fifo.ini: not a regular file"), std::string::npos);
  EXPECT_FALSE(IniFile::Load(folder / "fifo.ini"));
  EXPECT_FALSE(ReadFile(folder));

  ASSERT_TRUE(WriteFileAtomic(folder / "big.ini", "[A]\nk=v\n"));
  fs::resize_file(folder / "big.ini", kMaxSmallFile + 1);  // sparse: costs no disk
  Result<IniFile> big = IniFile::Load(folder / "big.ini");
  ASSERT_FALSE(big);
  EXPECT_NE(big.error().message.find("big.ini: larger than 16 MiB"), std::string::npos);
  // Journals have no cap.
  EXPECT_EQ(ReadFile(folder / "big.ini").value().size(), kMaxSmallFile + 1);
}

TEST(IniFile, SavingChangesKnownKeysInPlaceAndKeepsEveryOtherLine) {
  const std::string text =
      "; kept comment\r\n[CFG]\r\noperator = Anna\r\noperator2=du\r\n\r\n[Extra]\r\nfoo=bar\r\n"
      "no key line\r\n[Tax]\r\ncontainer1=1900\r\n";
  IniFile ini = IniFile::Parse(text);
  ini.Set("cfg", "OPERATOR2", "bob");
  ini.Set("CFG", "operator3", "neu");
  ini.Set("Windows", "Card", "1");
  EXPECT_EQ(ini.Serialize(),
            "; kept comment\r\n[CFG]\r\noperator = Anna\r\noperator2=bob\r\noperator3=neu\r\n\r\n"
            "[Extra]\r\nfoo=bar\r\nno key line\r\n[Tax]\r\ncontainer1=1900\r\n\r\n[Windows]\r\n"
            "Card=1\r\n");
  EXPECT_EQ(ini.GetString("CFG", "operator2", ""), "bob");
  EXPECT_EQ(IniFile::Parse(text).Serialize(), text);
}

TEST(IniFile, ReadsManyKeysInLinearTime) {
  // 40,000 keys took seconds when every key was looked up among all before it; 200,000 now
  // take milliseconds. The bound is for a sanitizer build on a busy machine.
  std::string text = "[Big]\n";
  for (int i = 0; i < 200000; ++i)
    text += "key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  const auto start = std::chrono::steady_clock::now();
  IniFile ini = IniFile::Parse(text);
  for (int i = 0; i < 200000; i += 997)
    ini.Set("Big", "key" + std::to_string(i), "x");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(ini.GetString("big", "KEY199999", ""), "199999");
  EXPECT_EQ(ini.GetString("Big", "key997", ""), "x");
}

}  // namespace
}  // namespace kasse
