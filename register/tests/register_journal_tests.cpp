// The register over a journal that cannot be written: no sale is signed without its request
// on the disk, a signed sale whose record could not be written is said to be signed, and no
// next sale is signed until that record is written. And a run that only reads the card leaves
// no journal at all.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "protocol/tests/record_test_support.h"
#include "register/register.h"
#include "register/register_probe.h"
#include "register/tests/journalled_register.h"
#include "register/tests/scripted_card.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileIo;

struct RegisterJournal : ::testing::Test, JournalledRegister {
  void SetUp() override { Start(); }
};

TEST_F(RegisterJournal, ARunThatOnlyReadsTheCardLeavesNoJournal) {
  EXPECT_TRUE(reg->Status());
  (void)reg->ReportMonths();
  reg.reset();
  ASSERT_TRUE(fs::is_directory(home / "Journal"));  // the installed home brings it
  for (const auto& entry : fs::directory_iterator(home / "Journal"))
    EXPECT_NE(entry.path().extension(), ".xml") << entry.path();
}

TEST_F(RegisterJournal, AFailingRequestWriteRefusesTheSaleAndLeavesItTotalled) {
  io.writeFault = [](int, std::string_view data) {
    return data.find("<transactionRequest>") != std::string_view::npos ? ENOSPC : 0;
  };
  Result<void> sold = Sale();
  ASSERT_FALSE(sold);
  EXPECT_NE(sold.error().English().find("not signed"), std::string::npos);
  EXPECT_TRUE(reg->CurrentSale().KassierenEnabled());
  io.Heal();
  ASSERT_TRUE(Sale());
  EXPECT_TRUE(reg->CurrentSale().NoSaleOpen());
  const fs::path l = RegisterProbe::JournalFiles(*reg).LName();
  reg.reset();
  EXPECT_EQ(testing::Occurrences(Journal(l), "<seqNoTransaction>"), 1u);
}

TEST_F(RegisterJournal, ASignedSaleWithoutItsRecordBlocksTheNextUntilItIsWritten) {
  io.writeFault = [](int, std::string_view data) {
    return data.find("<transactionResponse>") != std::string_view::npos ? EIO : 0;
  };
  Result<void> sold = Sale();
  ASSERT_FALSE(sold);
  EXPECT_NE(sold.error().English().find("is signed"), std::string::npos);
  EXPECT_NE(sold.error().English().find(RegisterProbe::JournalFiles(*reg).SName().string()),
            std::string::npos);
  EXPECT_NE(sold.error().English().find("Input/output error"), std::string::npos);
  EXPECT_TRUE(reg->CurrentSale().NoSaleOpen());  // the receipt of the signed sale stands

  // Each new attempt tries the record again and is refused while that fails.
  for (int attempt = 0; attempt < 2; ++attempt) {
    Result<void> next = Sale();
    ASSERT_FALSE(next);
    EXPECT_NE(next.error().English().find("still not written"), std::string::npos);
    EXPECT_FALSE(reg->DailyClosing(ClosingKind::kSigned));
  }
  io.Heal();
  ASSERT_TRUE(Sale());
  const fs::path s = RegisterProbe::JournalFiles(*reg).SName();
  const fs::path l = RegisterProbe::JournalFiles(*reg).LName();
  reg.reset();
  EXPECT_EQ(testing::Occurrences(Journal(s), "<transactionResponse>"), 2u);
  EXPECT_EQ(testing::Occurrences(Journal(l), "<seqNoTransaction>"), 2u);
  EXPECT_TRUE(testing::WellFormedXml(Journal(s), home / "s-check.xml"));
  EXPECT_TRUE(testing::WellFormedXml(Journal(l), home / "l-check.xml"));
}

// Every single write and sync of a first sale fails once, with a full disk and an I/O error.
// Whatever happens, every number the card gave out ends up in both journals once the disk
// works again, and both files are well-formed.
TEST(RegisterJournalFaults, NoSignedSaleIsLostWhateverWriteOrSyncFails) {
  for (const int error : {ENOSPC, EIO}) {
    for (int failing = 1; failing <= 60; failing += 3) {
      SCOPED_TRACE("call " + std::to_string(failing) + ", " + std::strerror(error));
      JournalledRegister run;
      run.Start();
      run.io.writeFault = [&](int call, std::string_view) { return call == failing ? error : 0; };
      run.io.syncFault = [&](int call) { return call == failing ? error : 0; };
      int signedSales = 0;
      for (int sale = 0; sale < 3; ++sale) {
        Result<void> sold = run.Sale();
        if (sold || sold.error().English().find("is signed") != std::string::npos) ++signedSales;
      }
      run.io.Heal();
      if (!run.reg->CurrentSale().NoSaleOpen()) {
        ASSERT_TRUE(run.Sale());
        ++signedSales;
      }
      const fs::path s = RegisterProbe::JournalFiles(*run.reg).SName();
      const fs::path l = RegisterProbe::JournalFiles(*run.reg).LName();
      run.reg.reset();
      EXPECT_EQ(testing::Occurrences(run.Journal(l), "<seqNoTransaction>"),
                static_cast<std::size_t>(signedSales));
      EXPECT_EQ(testing::Occurrences(run.Journal(s), "<transactionResponse>"),
                static_cast<std::size_t>(signedSales));
      EXPECT_TRUE(testing::WellFormedXml(run.Journal(s), run.home / "s-check.xml"));
      EXPECT_TRUE(testing::WellFormedXml(run.Journal(l), run.home / "l-check.xml"));
    }
  }
}

// Files that are no regular files would hang a reader: each is refused by name and the
// register starts with its defaults.
TEST(RegisterStart, SettingsLanguageAndProductFilesThatAreFifosAreNamedNotRead) {
  const fs::path home = TempHome();
  for (const char* file : {"cfg/start.ini", "cfg/lang.ini", "Produkte/Standard.xml"}) {
    fs::remove(home / file);
    ASSERT_EQ(::mkfifo((home / file).c_str(), 0600), 0) << file;
  }
  RegisterOptions options;
  options.home = home;
  Register reg(options, std::make_unique<testing::ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  std::string warnings;
  for (const std::string& warning : EnglishTexts(reg.Warnings()))
    warnings += warning + "\n";
  for (const char* file : {"start.ini: not a regular file", "lang.ini: not a regular file",
                           "Standard.xml: not a regular file"})
    EXPECT_NE(warnings.find(file), std::string::npos) << warnings;
}

}  // namespace
}  // namespace kasse
