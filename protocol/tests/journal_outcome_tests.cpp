// What the journal holds for each outcome of a card command, and when it reaches the disk:
// the request before the card sees it, the answer before the caller gets it, a refusal with
// its status word, and a disk that fails on the way.

#include <cerrno>
#include <cstring>

#include "protocol/reports.h"
#include "protocol/sign_transaction.h"
#include "protocol/tests/card_script.h"
#include "protocol/tests/record_test_support.h"

namespace kasse {
namespace {

std::string AnswerHex() {
  std::string answer = "C4 03 41 42 43 C5 04 00 00 00 2A CB 04 00 00 01 2C 9E 30";
  for (int i = 0; i < 48; ++i)
    answer += " 5A";
  return answer;
}

struct JournalOutcome : testing::RecordFixture {
  ScriptedCard card;
  TransactionSigning signing{card};
  CardOutcome outcome;

  Result<void> Sell() {
    items.ResetItemList(containers, {0.19, 0.07, 0.19, 0.0, 0.107, 0.055});
    ItemInput item{"1", "", "Brot", false, false, false, {"119", "", "", "", "", "", "", ""}};
    EXPECT_EQ(items.EncodeItem(item, containers, 2), 0);
    outcome = record.BuildTransaction({{}, "ich", 2}, items, containers, nullptr, &signing);
    return outcome.Status();
  }
};

TEST_F(JournalOutcome, TheRequestIsOnTheDiskBeforeTheCardIsAskedAndTheAnswerBeforeTheReceipt) {
  std::string sAtSend;
  int syncsAtSend = -1;
  card.onSend = [&] {
    syncsAtSend = io.syncs;
    sAtSend = SFile();
  };
  card.steps.push_back({"80400000", true, AnswerHex()});
  ASSERT_TRUE(Sell());
  EXPECT_GE(syncsAtSend, 2);  // the new folder and the S file
  EXPECT_NE(sAtSend.find("</transactionRequest>"), std::string::npos);
  EXPECT_FALSE(journal.IsBehind());
  // Both files synced after the answer was written: nothing is left to sync.
  const int syncs = io.syncs;
  ASSERT_TRUE(journal.Sync());
  EXPECT_EQ(io.syncs, syncs);
}

TEST_F(JournalOutcome, ARefusalIsJournalledWithItsStatusWord) {
  card.steps.push_back({"80400000", false, "6985"});
  EXPECT_FALSE(Sell());
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_NE(SFile().find("</transactionRequest><transactionRefused>6985</transactionRefused>"
                         "</transactionEncoded>"),
            std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(SFile(), home / "s.xml"));

  ScriptedDialog dialog;
  Reports reports{record, card, dialog};
  card.steps.push_back({"80420100", false, "6A80"});
  EXPECT_EQ(reports.DailyClosing(ClosingKind::kSigned).stage, CardStage::kRefused);
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_NE(SFile().find("</reportRequest><reportRefused>6A80</reportRefused></reportEncoded>"),
            std::string::npos);
}

TEST_F(JournalOutcome, AFailingRequestWriteRefusesTheSaleBeforeTheCardIsAsked) {
  for (const int error : {ENOSPC, EIO}) {
    io.writeFault = [error](int, std::string_view data) {
      return data.find("<transactionRequest>") != std::string_view::npos ? error : 0;
    };
    Result<void> sold = Sell();
    ASSERT_FALSE(sold);
    EXPECT_EQ(sold.error().kind, ErrorKind::kIo);
    EXPECT_NE(sold.error().English().find(std::strerror(error)), std::string::npos);
    EXPECT_EQ(outcome.stage, CardStage::kNotSent);
    ASSERT_TRUE(outcome.journalFailure);
    EXPECT_EQ(outcome.journalFailure->systemError, error);
    EXPECT_TRUE(card.sent.empty());
    io.Heal();
    ASSERT_TRUE(journal.Sync());
  }
  // A failing sync of the request stops it the same way.
  io.syncFault = [](int) { return EIO; };
  EXPECT_FALSE(Sell());
  EXPECT_TRUE(card.sent.empty());
}

TEST_F(JournalOutcome, AFailingAnswerWriteHoldsTheSignedReceiptAndKeepsTheAnswer) {
  io.writeFault = [](int, std::string_view data) {
    return data.find("<seqNoTransaction>") != std::string_view::npos ? ENOSPC : 0;
  };
  card.steps.push_back({"80400000", true, AnswerHex()});
  Result<void> sold = Sell();
  ASSERT_FALSE(sold);
  EXPECT_EQ(sold.error().kind, ErrorKind::kIo);
  EXPECT_NE(sold.error().English().find(journal.LName().string()), std::string::npos);
  EXPECT_NE(sold.error().English().find("No space left on device"), std::string::npos);
  EXPECT_TRUE(journal.IsBehind());
  EXPECT_EQ(signing.CommandsSent(), 1u);
  // Signed, with everything the receipt needs, but held until the record is on the disk.
  EXPECT_EQ(outcome.stage, CardStage::kSigned);
  EXPECT_TRUE(outcome.recordsHeld);
  EXPECT_EQ(outcome.receipt.signature, Bytes(48, 0x5A));
  EXPECT_FALSE(outcome.receipt.qrPayload.empty());
  ASSERT_TRUE(outcome.journalFailure);
  EXPECT_EQ(outcome.journalFailure->systemError, ENOSPC);
  // What a register that must end rescues: the whole record, from its start, in both files.
  const HeldRecords held = journal.Held();
  EXPECT_NE(held.s.find("<transactionEncoded><itemListEncoded>"), std::string::npos);
  EXPECT_NE(held.s.find("<transactionResponse>"), std::string::npos);
  EXPECT_EQ(held.l.rfind("<transaction>", 0), 0u);
  EXPECT_NE(held.l.find("<seqNoTransaction>300</seqNoTransaction>"), std::string::npos);
  EXPECT_EQ(LFile().find("<seqNoTransaction>"), std::string::npos);
  io.Heal();
  ASSERT_TRUE(journal.Sync());
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_NE(LFile().find("<seqNoTransaction>300</seqNoTransaction>"), std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(LFile(), home / "l.xml"));
  EXPECT_TRUE(testing::WellFormedXml(SFile(), home / "s.xml"));
}

}  // namespace
}  // namespace kasse
