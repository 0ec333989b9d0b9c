#include "common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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
    EXPECT_NE(written.error().English().find(std::strerror(error)), std::string::npos);
    EXPECT_EQ(ReadFile(folder / "start.ini").value(), "old");
    EXPECT_EQ(EntriesIn(folder), 1u);
  }
  // The folder sync after the rename is what makes the new name durable: its failure counts.
  testing::FaultyFileIo io;
  io.syncFault = [&io](int) { return io.folderSyncs > 0 ? EIO : 0; };
  Result<void> written =
      WriteFileAtomic(folder / "start.ini", "new", Durability::kSyncAndRename, io);
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().English().find("sync the folder " + folder.string()),
            std::string::npos);
}

TEST(WriteFileAtomic, AKeptNameIsNeverReplacedAndAFixedModeIgnoresTheUmask) {
  const fs::path folder = testing::NewFolder("files");
  const mode_t umask = ::umask(0);
  FileWrite key;
  key.mode = 0600;
  EXPECT_TRUE(WriteFileAtomic(folder / "card.key", "secret", key));
  FileWrite once;
  once.existing = Existing::kKeep;
  Result<void> second = WriteFileAtomic(folder / "card.key", "other", once);
  ::umask(umask);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().systemError, EEXIST);
  EXPECT_EQ(ReadFile(folder / "card.key").value(), "secret");
  struct stat info {};
  ASSERT_EQ(::stat((folder / "card.key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(EntriesIn(folder), 1u);  // neither temporary stays
}

TEST(WriteFileAtomic, LeftoversOfAKilledWriterAreKnownByTheirNameAndOnlyTheyGo) {
  EXPECT_TRUE(IsTemporaryOf(".card-v2.state.a1B2c3.tmp", "card-v2.state"));
  EXPECT_FALSE(IsTemporaryOf(".card-v2.state.a1B2c3.tmp", "card-v2"));
  EXPECT_FALSE(IsTemporaryOf(".card-v2.state.a1B2.tmp", "card-v2.state"));
  EXPECT_FALSE(IsTemporaryOf("card-v2.state", "card-v2.state"));
  const fs::path folder = testing::NewFolder("files");
  for (const char* name : {".card-v2.state.a1B2c3.tmp", ".card-v2.state.key.zzzzzz.tmp",
                           ".other.ini.a1B2c3.tmp", "card-v2.state"})
    ASSERT_TRUE(WriteFileAtomic(folder / name, "x"));
  const auto removed = RemoveLeftoverTemporaries(folder, {"card-v2.state", "card-v2.state.key"});
  EXPECT_EQ(removed.size(), 2u);
  EXPECT_TRUE(fs::exists(folder / ".other.ini.a1B2c3.tmp"));
  EXPECT_TRUE(fs::exists(folder / "card-v2.state"));
}

TEST(PrivateFolders, NewFoldersAre0700WhateverTheUmaskAndLooseOnesAreNamed) {
  const fs::path base = testing::NewFolder("files");
  const mode_t umask = ::umask(0);
  std::vector<fs::path> unsynced;
  testing::FaultyFileIo io;
  const Result<void> made = MakePrivateFolders(base / "a" / "b", io, &unsynced);
  ::umask(umask);
  ASSERT_TRUE(made);
  for (const fs::path& folder : {base / "a", base / "a" / "b"}) {
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
  }
  // Both new entries are for the caller to make durable: in the base and in a.
  EXPECT_EQ(unsynced, (std::vector<fs::path>{base, base / "a"}));
  EXPECT_EQ(io.folderSyncs, 0);
  EXPECT_FALSE(LooseFolderWarning(base / "a", FolderUse::kSecrets));

  ASSERT_EQ(::chmod((base / "a").c_str(), 0755), 0);
  EXPECT_FALSE(LooseFolderWarning(base / "a", FolderUse::kData));
  const auto secrets = LooseFolderWarning(base / "a", FolderUse::kSecrets);
  ASSERT_TRUE(secrets);
  EXPECT_NE(secrets->find((base / "a").string() + " is open to other users (mode 0755)"),
            std::string::npos);
  ASSERT_EQ(::chmod((base / "a").c_str(), 0777), 0);
  EXPECT_NE(LooseFolderWarning(base / "a", FolderUse::kData).value_or("").find("change"),
            std::string::npos);
  // A file where a folder must go is named, not made into one.
  ASSERT_TRUE(WriteFileAtomic(base / "file", "x"));
  const Result<void> blocked = MakePrivateFolders(base / "file" / "c");
  ASSERT_FALSE(blocked);
  EXPECT_NE(blocked.error().English().find((base / "file").string()), std::string::npos);
}

TEST(ReadFile, RefusesWhatIsNotARegularFileAndFilesAboveTheCap) {
  const fs::path folder = testing::NewFolder("files");
  ASSERT_EQ(::mkfifo((folder / "fifo.ini").c_str(), 0600), 0);
  // Would block for ever on a FIFO nobody writes to.
  Result<std::string> fifo = ReadFile(folder / "fifo.ini");
  ASSERT_FALSE(fifo);
  EXPECT_NE(fifo.error().English().find("fifo.ini: not a regular file"), std::string::npos);
  EXPECT_FALSE(IniFile::Load(folder / "fifo.ini"));
  EXPECT_FALSE(ReadFile(folder));

  ASSERT_TRUE(WriteFileAtomic(folder / "big.ini", "[A]\nk=v\n"));
  fs::resize_file(folder / "big.ini", kMaxSmallFile + 1);  // sparse: costs no disk
  Result<IniFile> big = IniFile::Load(folder / "big.ini");
  ASSERT_FALSE(big);
  EXPECT_NE(big.error().English().find("big.ini: larger than 16 MiB"), std::string::npos);
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
