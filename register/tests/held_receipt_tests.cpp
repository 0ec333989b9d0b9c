// A signed sale whose journal record cannot be written: its receipt, URL and QR code wait until
// the record is on the disk; when the run must end first, the record is rescued into the state
// folder and journalled at the next start, or at the very least handed back as text.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/support/text_checks.h"
#include "journal/journal_rescue.h"
#include "register/messages.h"
#include "register/register_probe.h"
#include "register/tests/journalled_register.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

std::string ReceiptOf(const Register& reg) {
  return reg.CurrentSale().ReceiptText();
}

// Every journal write that would carry the card's answer fails with `error`; the state folder,
// on a disk of its own, still takes a rescue file.
void FailAnswers(testing::FaultyFileIo& io, int error) {
  io.writeFault = [error](int, std::string_view data) {
    const bool answer = data.find("<transactionResponse>") != std::string_view::npos ||
                        data.find("<seqNoTransaction>") != std::string_view::npos;
    return answer && !data.starts_with("kasse-rescue") ? error : 0;
  };
}

std::string AllJournals(const fs::path& home, const char* which) {
  std::string text;
  for (const auto& entry : fs::directory_iterator(home / "Journal"))
    if (entry.path().filename().string().ends_with(which)) text += ReadFile(entry.path()).value();
  return text;
}

struct HeldReceipt : ::testing::Test, JournalledRegister {
  void SetUp() override { Start(); }
};

TEST_F(HeldReceipt, NothingOfTheSignedSaleShowsUntilItsRecordIsOnTheDisk) {
  ASSERT_TRUE(reg->SetSwitch(Register::Switch::kSecurityText, true));
  FailAnswers(io, ENOSPC);
  const Result<void> sold = Sale();
  ASSERT_FALSE(sold);
  EXPECT_TRUE(sold.error().Is(msg::kSaleSignedJournalHeld));
  EXPECT_NE(sold.error().English().find("Free space on the disk."), std::string::npos);
  EXPECT_FALSE(reg->ReceiptMayLeave());
  EXPECT_TRUE(reg->LastVerifyUrl().empty());
  const std::string held = ReceiptOf(*reg);
  EXPECT_EQ(held.find("Signatur"), std::string::npos) << held;
  EXPECT_EQ(held.find("Transaktionsnummer"), std::string::npos) << held;
  EXPECT_EQ(reg->CurrentSale().ReceiptLines().back(),
            reg->Texts().LangText(msg::kReceiptHeldLine.number));
  EXPECT_FALSE(reg->CurrentSale().QrFirstLine());
  // Nothing that shows or prints the receipt goes, and nothing new is signed.
  EXPECT_FALSE(reg->RetryJournal());
  EXPECT_FALSE(reg->BookProduct(0, "1"));
  EXPECT_FALSE(reg->DailyClosing(ClosingKind::kSigned));
  EXPECT_FALSE(reg->SaveReceipt(home / "receipt.txt"));
  EXPECT_FALSE(fs::exists(home / "receipt.txt"));

  io.Heal();
  ASSERT_TRUE(reg->RetryJournal());
  EXPECT_TRUE(reg->ReceiptMayLeave());
  const std::string shown = ReceiptOf(*reg);
  EXPECT_NE(shown.find("Signatur"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Transaktionsnummer: 1"), std::string::npos) << shown;
  EXPECT_EQ(shown.find(reg->Texts().LangText(msg::kReceiptHeldLine.number)), std::string::npos);
  EXPECT_FALSE(reg->LastVerifyUrl().empty());
  EXPECT_TRUE(reg->CurrentSale().QrFirstLine());
  ASSERT_TRUE(Sale());
  EXPECT_NE(ReceiptOf(*reg).find("Transaktionsnummer: 2"), std::string::npos);
}

TEST_F(HeldReceipt, TheAdviceFollowsWhatTheSystemSaid) {
  const struct {
    int error;
    const MessageId& advice;
  } cases[] = {{EROFS, file_msg::kAdviceReadOnly},
               {EACCES, file_msg::kAdviceNoPermission},
               {EIO, file_msg::kAdviceIoError},
               {ENOSPC, file_msg::kAdviceNoSpace}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::strerror(c.error));
    io.Heal();
    ASSERT_TRUE(reg->RetryJournal());
    FailAnswers(io, c.error);
    const Result<void> sold = Sale();
    ASSERT_FALSE(sold);
    EXPECT_NE(sold.error().English().find(c.advice.english), std::string::npos)
        << sold.error().English();
    const Result<void> retried = reg->RetryJournal();
    ASSERT_FALSE(retried);
    EXPECT_NE(retried.error().English().find(c.advice.english), std::string::npos);
  }
}

TEST_F(HeldReceipt, ARecordStillUnwrittenAtTheEndIsRescuedAndJournalledAtTheNextStart) {
  FailAnswers(io, ENOSPC);
  ASSERT_FALSE(Sale());
  const Register::RunEnd end = reg->EndRun();
  ASSERT_EQ(end.kind, Register::RunEnd::Kind::kRescued);
  EXPECT_NE(end.message->English().find(end.rescueFile.string()), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat(end.rescueFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const Result<RescuedRecords> rescued = ParseRescue(ReadFile(end.rescueFile).value());
  ASSERT_TRUE(rescued);
  EXPECT_NE(rescued->records.s.find("<transactionResponse>"), std::string::npos);
  EXPECT_EQ(rescued->records.params.tpId, "QOR-SIM");
  reg.reset();
  // The old pair keeps its request without the answer.
  EXPECT_EQ(testing::Occurrences(AllJournals(home, "S.xml"), "<transactionResponse>"), 0u);

  io.Heal();
  Start();
  EXPECT_FALSE(fs::exists(end.rescueFile));
  std::string warnings;
  for (const std::string& warning : EnglishTexts(reg->Warnings()))
    warnings += warning + "\n";
  EXPECT_NE(warnings.find("written to the journal"), std::string::npos) << warnings;
  ASSERT_TRUE(Sale());
  reg.reset();
  const std::string s = AllJournals(home, "S.xml");
  const std::string l = AllJournals(home, "L.xml");
  EXPECT_EQ(testing::Occurrences(s, "<transactionResponse>"), 2u);
  EXPECT_EQ(testing::Occurrences(l, "<seqNoTransaction>1</seqNoTransaction>"), 1u);
  EXPECT_EQ(testing::Occurrences(l, "<seqNoTransaction>2</seqNoTransaction>"), 1u);
  for (const auto& entry : fs::directory_iterator(home / "Journal")) {
    if (entry.path().extension() != ".xml") continue;
    const std::string text = ReadFile(entry.path()).value();
    // The rescued pair carries the card's parameter block and is whole.
    if (text.find("<transactionResponse>") != std::string::npos ||
        text.find("<seqNoTransaction>1<") != std::string::npos) {
      EXPECT_NE(text.find("<qorParams>"), std::string::npos);
      EXPECT_TRUE(testing::WellFormedXml(text, home / "check.xml")) << entry.path();
    }
  }
}

TEST_F(HeldReceipt, WhenNotEvenTheRescueCanBeWrittenTheRecordIsHandedBackAsText) {
  FailAnswers(io, EIO);
  ASSERT_FALSE(Sale());
  // A file where the rescue folder would go.
  fs::create_directories(state);
  ASSERT_TRUE(WriteFileAtomic(state / "rescue", "in the way"));
  const Register::RunEnd end = reg->EndRun();
  ASSERT_EQ(end.kind, Register::RunEnd::Kind::kLost);
  EXPECT_NE(end.message->English().find("Keep the lines below"), std::string::npos);
  EXPECT_NE(end.recordsText.find("request: "), std::string::npos) << end.recordsText;
  EXPECT_NE(end.recordsText.find("answer: "), std::string::npos) << end.recordsText;
  EXPECT_EQ(end.recordsText.find('<'), std::string::npos);
}

TEST(RescueFile, ADamagedOrForeignRescueIsRefusedNeverHalfRead) {
  RescuedRecords rescued;
  rescued.home = "/home/anna/kasse";
  rescued.records.params = QorParams{"T.2.0", "QOR-SIM", "7", "MIIB"};
  rescued.records.s = "<transactionEncoded>\n<x/></transactionEncoded>";
  rescued.records.l = "<transaction></transaction>";
  const std::string text = RescueText(rescued);
  const Result<RescuedRecords> back = ParseRescue(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->records.s, rescued.records.s);
  EXPECT_EQ(back->records.params.tpIdNo, "7");
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string flipped = text;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x01);
    EXPECT_FALSE(ParseRescue(flipped)) << "byte " << at;
  }
  EXPECT_FALSE(ParseRescue(text.substr(0, text.size() - 1)));
  EXPECT_FALSE(ParseRescue(text + "x"));
}

}  // namespace
}  // namespace kasse
