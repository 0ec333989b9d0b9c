// What the card says on its notices, the modes of what it makes, and that every write of the
// card and its issuer goes through the file-I/O seam.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "sim/books_log.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::kSelectApp;
using testing::Sale;
using testing::Send;
using testing::SeqOf;
using testing::TempState;

unsigned ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

bool Said(const std::vector<std::string>& notices, const std::string& words) {
  for (const std::string& notice : notices) {
    if (notice.find(words) != std::string::npos) return true;
  }
  return false;
}

TEST(CardNotices, ASnapshotThatCannotBeWrittenIsSaidAndTriedAgainAtTheNextChange) {
  TempState temp("notice-snapshot");
  kasse::testing::FaultyFileIo io;
  std::vector<std::string> notices;
  EngineOptions options = temp.Options();
  options.io = &io;
  options.snapshotEvery = 2;
  options.onNotice = [&notices](const std::string& text) { notices.push_back(text); };
  QorEngine card(options);
  ASSERT_FALSE(card.StartError()) << card.StartError()->English();
  Send(card, kSelectApp);
  io.writeFault = [](int, std::string_view data) {
    return data.substr(0, 15) == "qor-sim-state 3" ? ENOSPC : 0;
  };
  for (std::uint32_t n = 1; n <= 4; ++n)
    ASSERT_EQ(SeqOf(Send(card, Sale(100))), n);
  // Said once, with the file and the reason; the sales go on in the log.
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("cannot write the card's snapshot"), std::string::npos);
  EXPECT_NE(notices[0].find(temp.Folder().string()), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("No space left on device"), std::string::npos) << notices[0];
  const std::filesystem::path log = temp.File().string() + ".log";
  EXPECT_EQ(ReadLog(ReadFile(log).value()).records.size(), 4u);
  // At the next change after the disk has room again, not after another interval.
  io.Heal();
  ASSERT_EQ(SeqOf(Send(card, Sale(100))), 5u);
  EXPECT_EQ(ReadFile(log).value(), std::string(kLogHeader));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[1].find("is written again"), std::string::npos);
  // None left behind by the failed tries.
  for (const auto& entry : std::filesystem::directory_iterator(temp.Folder()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(CardNotices, LeftoverTemporariesAreRemovedAtStartAndSaid) {
  TempState temp("notice-leftovers");
  { QorEngine card(temp.Options()); }
  const auto folder = temp.Folder();
  const std::vector<std::filesystem::path> leftovers = {
      folder / ".card.state.Ab3xYz.tmp", folder / ".card.state.key.000000.tmp",
      folder / ".card.state.2718281828.tmp",  // named by the card's writer of before
      temp.IssuerFolder() / ".test-issuer.serial.q1w2e3.tmp"};
  const std::vector<std::filesystem::path> others = {folder / ".card.state.backup",
                                                     folder / "card.state.1234.tmp"};
  for (const auto& path : leftovers)
    ASSERT_TRUE(WriteFileAtomic(path, "half a write"));
  for (const auto& path : others)
    ASSERT_TRUE(WriteFileAtomic(path, "the user's"));
  std::vector<std::string> notices;
  EngineOptions options = temp.Options();
  options.onNotice = [&notices](const std::string& text) { notices.push_back(text); };
  QorEngine card(options);
  ASSERT_FALSE(card.StartError()) << card.StartError()->English();
  for (const auto& path : leftovers) {
    EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(Said(notices, "removed " + path.string())) << path;
  }
  for (const auto& path : others)
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
}

TEST(CardNotices, ALogNearItsLimitIsWarnedOfAndPastItRefused) {
  TempState temp("notice-limit");
  const CardPaths paths(temp.File());
  std::filesystem::create_directories(temp.Folder());
  std::vector<std::string> notices;
  const LogAccess access{&PosixFileIo(),
                         [&notices](const std::string& text) { notices.push_back(text); }, false,
                         1000};
  const std::string payload(100, 'x');
  {
    auto log = BooksLog::Open(paths, BooksLog::Read(paths, false).value(), access);
    ASSERT_TRUE(log);
    while (log->Size() + 116 < 500) {
      ASSERT_TRUE(log->Append(payload));
      EXPECT_TRUE(notices.empty());
    }
    ASSERT_TRUE(log->Append(payload));  // past half
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(paths.log.string()), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("of its limit of 1000 bytes"), std::string::npos) << notices[0];
    while (log->Size() + 116 <= 1000)
      ASSERT_TRUE(log->Append(payload));
    const auto size = log->Size();
    const Result<void> refused = log->Append(payload);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().English().find("has reached its limit"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(paths.log), size);
    EXPECT_EQ(notices.size(), 1u);
  }
  // And at every start above half.
  auto again = BooksLog::Open(paths, BooksLog::Read(paths, false).value(), access);
  ASSERT_TRUE(again);
  EXPECT_EQ(notices.size(), 2u);
}

TEST(CardFolders, FoldersAre0700AndSecrets0600WhateverTheUmask) {
  TempState temp("umask");
  EngineOptions options;
  options.stateFile = temp.Folder() / "a" / "b" / "card.state";
  options.issuerFolder = temp.Folder() / "c" / "issuer";
  const mode_t saved = ::umask(0);
  {
    QorEngine card(options);
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    Send(card, kSelectApp);
    ASSERT_EQ(SeqOf(Send(card, Sale(100))), 1u);
  }
  ::umask(saved);
  for (const auto& folder : {temp.Folder() / "a", temp.Folder() / "a" / "b", temp.Folder() / "c",
                             options.issuerFolder}) {
    EXPECT_EQ(ModeOf(folder), 0700u) << folder;
  }
  const std::string file = options.stateFile.string();
  for (const std::string& path : {file, file + ".key", file + ".cert", file + ".log",
                                  (options.issuerFolder / "test-issuer.key").string()}) {
    EXPECT_EQ(ModeOf(path), 0600u) << path;
  }
}

TEST(CardFolders, AStateFolderOpenToOthersIsWarnedOf) {
  TempState temp("loose");
  std::filesystem::create_directories(temp.Folder());
  std::vector<std::string> notices;
  EngineOptions options = temp.Options();
  options.onNotice = [&notices](const std::string& text) { notices.push_back(text); };
  std::filesystem::permissions(temp.Folder(), std::filesystem::perms(0755));
  { QorEngine card(options); }
  EXPECT_TRUE(Said(notices, "the folder " + temp.Folder().string() + " is open to other users"));
  notices.clear();
  std::filesystem::permissions(temp.Folder(), std::filesystem::perms(0700));
  { QorEngine card(options); }
  EXPECT_FALSE(Said(notices, "open to other users"));
}

// A FileIo that notes every name it creates: a file opened with O_CREAT, a rename or link
// target, a folder.
class NamingFileIo : public kasse::testing::FaultyFileIo {
 public:
  std::set<std::filesystem::path> made;
  int Open(const std::filesystem::path& path, int flags, mode_t mode) override {
    if (flags & O_CREAT) made.insert(path);
    return FaultyFileIo::Open(path, flags, mode);
  }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    made.insert(to);
    return FaultyFileIo::Rename(from, to);
  }
  int Link(const std::filesystem::path& from, const std::filesystem::path& to) override {
    made.insert(to);
    return FaultyFileIo::Link(from, to);
  }
  int MakeFolder(const std::filesystem::path& path, mode_t mode) override {
    made.insert(path);
    return FaultyFileIo::MakeFolder(path, mode);
  }
};

TEST(CardFolders, EveryFileOfTheCardAndItsIssuerIsMadeThroughTheSeam) {
  TempState temp("seam");
  std::filesystem::create_directories(temp.Folder());
  NamingFileIo io;
  EngineOptions options;
  options.stateFile = temp.Folder() / "card" / "card.state";
  options.issuerFolder = temp.Folder() / "issuer";
  options.io = &io;
  options.snapshotEvery = 2;
  {
    QorEngine card(options);
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    Send(card, kSelectApp);
    for (std::uint32_t n = 1; n <= 3; ++n)
      ASSERT_EQ(SeqOf(Send(card, Sale(100))), n);
  }
  const int syncs = io.syncs;
  EXPECT_GT(syncs, 3);  // one for each record at least
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(temp.Folder())) {
    if (entry.path().extension() == ".lock") continue;  // flock only: no books in them
    EXPECT_EQ(io.made.count(entry.path()), 1u) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 9);  // two folders, four card files, three issuer files
}

}  // namespace
}  // namespace kasse::sim
