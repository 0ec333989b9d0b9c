#include "protocol/sign_transaction.h"

#include <deque>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "protocol/tests/card_script.h"
#include "protocol/tests/record_test_support.h"

namespace kasse {
namespace {

// Hands back the held command with one byte of the signature changed, as a user editing the
// console would.
struct EditingHold : DebugHold {
  Bytes HoldForDebug(Bytes command) override {
    held = command;
    command[command.size() - 2] ^= 0x10;
    return command;
  }
  Bytes held;
};

std::string AnswerHex() {
  std::string answer = "C4 03 41 42 43 C5 04 00 00 00 2A CB 04 00 00 01 2C 9E 30";
  for (int i = 0; i < 48; ++i)
    answer += " 5A";
  return answer;
}

struct Signing : testing::RecordFixture {
  ScriptedCard card;
  TransactionSigning signing{card};
  CardOutcome outcome;  // of the last sale
  const ReceiptParts& receipt = outcome.receipt;

  // A sale of one bread, signed through `signer` (the fixture's signing by default).
  Result<void> Sell(TransactionSigning* signer = nullptr) {
    EXPECT_TRUE(journal.OpenJournalPair());
    items.ResetItemList(containers, {0.19, 0.07, 0.19, 0.0, 0.107, 0.055});
    ItemInput item{"1", "", "Brot", false, false, false, {"119", "", "", "", "", "", "", ""}};
    EXPECT_EQ(items.EncodeItem(item, containers, 2), 0);
    outcome = record.BuildTransaction({{}, "ich", 2}, items, containers, nullptr,
                                      signer ? signer : &signing);
    return outcome.Status();
  }
};

TEST_F(Signing, AnswerReachesBothJournalsTheReceiptAndTheQrPayload) {
  card.steps.push_back({"8040000037", true, AnswerHex()});
  ASSERT_TRUE(Sell());
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = SFile();
  const std::string l = LFile();
  EXPECT_NE(s.find("</itemListEncoded><transactionRequest>" + signing.LastRequestBase64() +
                   "</transactionRequest><transactionResponse>" + signing.LastResponseBase64() +
                   "</transactionResponse></transactionEncoded>"),
            std::string::npos);
  EXPECT_NE(l.find("<tpId>ABC</tpId><tpIdNo>42</tpIdNo><seqNoTransaction>300</seqNoTransaction>"),
            std::string::npos);
  EXPECT_NE(l.find("<sig>" + HexCompact(Bytes(48, 0x5A)) + "</sig></transaction>"),
            std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(s, home / "s.xml"));
  EXPECT_TRUE(testing::WellFormedXml(l, home / "l.xml"));
  EXPECT_EQ(outcome.stage, CardStage::kSigned);
  EXPECT_FALSE(outcome.recordsHeld);
  EXPECT_NE(receipt.responseText.find("42"), std::string::npos);
  EXPECT_NE(receipt.responseText.find("300"), std::string::npos);
  EXPECT_EQ(receipt.signature, Bytes(48, 0x5A));
  EXPECT_TRUE(receipt.itemHash);
  EXPECT_FALSE(receipt.colour);  // no verification asked for
  // Command data (without header and Le) then the answer.
  EXPECT_EQ(receipt.qrPayload.size(), 0x37u + 67u);
  EXPECT_EQ(card.sent.size(), 1u);
}

TEST_F(Signing, RefusedTransactionLeavesTheRequestWithoutAnswerAndNoQrCode) {
  card.steps.push_back({"80400000", false, ""});
  EXPECT_FALSE(Sell());
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = SFile();
  EXPECT_NE(s.find("</transactionRequest></transactionEncoded>"), std::string::npos);
  EXPECT_EQ(s.find("<transactionResponse>"), std::string::npos);
  EXPECT_EQ(LFile().find("<seqNoTransaction>"), std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(s, home / "s.xml"));
  EXPECT_TRUE(testing::WellFormedXml(LFile(), home / "l.xml"));
  EXPECT_EQ(outcome.stage, CardStage::kRefused);
  EXPECT_EQ(receipt.colour, kReceiptFailed);
  EXPECT_TRUE(receipt.qrPayload.empty());
  EXPECT_FALSE(receipt.signature);
  // The record's fields still go on the receipt.
  EXPECT_NE(receipt.responseText.find("ich"), std::string::npos);
}

TEST_F(Signing, TruncatedAnswerIsJournalledButNotRead) {
  card.steps.push_back({"80400000", true, "C4 03 41 42 43 C5 04 00"});
  auto result = Sell();
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().English().find("cannot be read"), std::string::npos);
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_NE(SFile().find("<transactionResponse>"), std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(LFile(), home / "l.xml"));
  EXPECT_EQ(outcome.stage, CardStage::kRefused);
  EXPECT_EQ(receipt.colour, kReceiptFailed);
  EXPECT_TRUE(receipt.qrPayload.empty());
}

TEST_F(Signing, VerificationColoursTheReceiptByTheCardsVerdict) {
  signing.SetSwitches({false, true, false, false});
  card.steps.push_back({"80400000", true, AnswerHex()});
  card.steps.push_back({"80440000", true, ""});
  ASSERT_TRUE(Sell());
  EXPECT_EQ(receipt.colour, kReceiptVerified);
  EXPECT_EQ(signing.LastVerification(), true);
  // The verify data: no currency, CB before the container, the signature last.
  const std::string verify = HexCompact(card.sent.back());
  EXPECT_EQ(verify.find("C80203D2"), std::string::npos);
  EXPECT_NE(verify.find("CB040000012CE10C"), std::string::npos);
  EXPECT_EQ(verify.substr(verify.size() - 2), "00");

  card.steps.push_back({"80400000", true, AnswerHex()});
  card.steps.push_back({"80440000", false, ""});
  EXPECT_FALSE(Sell());
  EXPECT_EQ(receipt.colour, kReceiptFailed);
  EXPECT_EQ(signing.LastVerification(), false);
}

TEST_F(Signing, HeldVerifyCommandIsSentAsEdited) {
  EditingHold hold;
  TransactionSigning held(card, &hold);
  held.SetSwitches({false, true, true, false});
  card.steps.push_back({"80400000", true, AnswerHex()});
  card.steps.push_back({"80440000", false, ""});
  EXPECT_FALSE(Sell(&held));
  ASSERT_EQ(card.sent.size(), 2u);
  EXPECT_NE(card.sent[1], hold.held);
  EXPECT_EQ(card.sent[1].size(), hold.held.size());
}

}  // namespace
}  // namespace kasse

namespace kasse {
namespace {

struct LateSigning : Signing {
  // A sale the card leaves unanswered; its request must stay in the S file without an answer.
  void SellUnanswered() {
    card.stallNext = true;
    const Result<void> sold = Sell();
    ASSERT_FALSE(sold);
    EXPECT_NE(sold.error().English().find("stopped answering"), std::string::npos);
    EXPECT_EQ(outcome.stage, CardStage::kUnanswered);
    ASSERT_TRUE(card.late);
    EXPECT_TRUE(receipt.qrPayload.empty());
  }
  std::string LateRequest() const {
    return "<transactionLate><transactionRequest>" + signing.LastRequestBase64() +
           "</transactionRequest>";
  }
};

TEST_F(LateSigning, AnAnswerAfterThePatienceLimitIsJournalledAsItsOwnRecord) {
  SellUnanswered();
  const std::string answer = AnswerHex();
  card.late(CardAnswer{HexParse(answer), 0x9000});
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = SFile();
  EXPECT_NE(s.find("</transactionRequest></transactionEncoded>"), std::string::npos);
  EXPECT_EQ(s.find("<transactionResponse>" + Base64Encode(HexParse(answer)) +
                   "</transactionResponse></transactionEncoded>"),
            std::string::npos);
  EXPECT_NE(s.find(LateRequest() + "<transactionResponse>" + Base64Encode(HexParse(answer)) +
                   "</transactionResponse></transactionLate>"),
            std::string::npos)
      << s;
  EXPECT_TRUE(testing::WellFormedXml(s, home / "s.xml"));
  EXPECT_TRUE(testing::WellFormedXml(LFile(), home / "l.xml"));
  EXPECT_EQ(LFile().find("<seqNoTransaction>"), std::string::npos);
}

TEST_F(LateSigning, ALateRefusalKeepsItsStatusWordAndALostAnswerWritesNothing) {
  SellUnanswered();
  card.late(CardAnswer{{}, 0x6985});
  SellUnanswered();
  card.late(std::nullopt);
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = SFile();
  EXPECT_NE(s.find("</transactionRequest><transactionRefused>6985</transactionRefused>"
                   "</transactionLate>"),
            std::string::npos)
      << s;
  // One late record for two unanswered sales.
  EXPECT_EQ(s.find("<transactionLate>"), s.rfind("<transactionLate>"));
  EXPECT_TRUE(testing::WellFormedXml(s, home / "s.xml"));
}

}  // namespace
}  // namespace kasse
