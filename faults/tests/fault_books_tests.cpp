#include "faults/fault_books.h"

#include <gtest/gtest.h>

#include "common/base_n.h"
#include "common/packed.h"
#include "journal/journal.h"

namespace kasse {
namespace {

// The card's answer to TRANSACTION with sequence number `seqNo`.
std::string Answer(Byte seqNo) {
  Bytes answer = {0xC4, 0x03, 'Q',  'O', 'R', 0xC5, 0x04,  0,    0,   0,
                  1,    0xCB, 0x04, 0,   0,   0,    seqNo, 0x9E, 0x30};
  answer.resize(answer.size() + 48, 0x11);
  return Base64Encode(answer);
}

// A TRANSACTION request booking `cents` in container 1.
std::string Request(int cents) {
  const Bytes amount = PackSignedAmount(cents);
  Bytes request = {0xC3,
                   0x01,
                   0x01,
                   0xE1,
                   static_cast<Byte>(amount.size() + 2),
                   0xD8,
                   static_cast<Byte>(amount.size())};
  request.insert(request.end(), amount.begin(), amount.end());
  return Base64Encode(request);
}

// S and L texts of one run, built record by record.
struct Journals {
  std::string s{kJournalHeader}, l{kJournalHeader};

  // A sale of `cents` in container 1; seqNo 0: the card's answer never came.
  Journals& Sale(Byte seqNo, int cents) {
    s += "<transactionEncoded><transactionRequest>" + Request(cents) + "</transactionRequest>";
    if (seqNo != 0) s += "<transactionResponse>" + Answer(seqNo) + "</transactionResponse>";
    s += "</transactionEncoded>";
    return *this;
  }
  Journals& Closing(int last, int cents) {
    s += "<reportEncoded><reportRequest>AAAA</reportRequest></reportEncoded>";
    l += "<report><seqNoTransactionLast>" + std::to_string(last) +
         "</seqNoTransactionLast><containerVat1><turnover>" + std::to_string(cents) +
         "</turnover></containerVat1></report>";
    return *this;
  }
};

std::vector<std::string> Check(const std::vector<Journals>& runs) {
  FaultBooks books;
  for (const Journals& run : runs)
    ReadFaultBooks(run.s, run.l, books);
  return CheckFaultBooks(books);
}

TEST(FaultBooks, RunsThatAgreeHaveNoProblem) {
  EXPECT_TRUE(Check({Journals().Sale(1, 100).Sale(2, 250), Journals().Sale(3, 50).Closing(3, 400)})
                  .empty());
}

TEST(FaultBooks, SequenceNumberGivenTwiceAcrossRunsIsReported) {
  const auto problems = Check({Journals().Sale(1, 100).Sale(2, 100), Journals().Sale(2, 100)});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "sequence number 2 after 2");
}

TEST(FaultBooks, LostAnswerSignedByTheCardCountsInItsTotals) {
  // The card signed the second sale, then died before its answer left it.
  EXPECT_TRUE(
      Check({Journals().Sale(1, 100).Sale(0, 70), Journals().Sale(3, 5).Closing(3, 175)}).empty());
  // Died before signing: the closing holds only what was answered.
  EXPECT_TRUE(
      Check({Journals().Sale(1, 100).Sale(0, 70), Journals().Sale(2, 5).Closing(2, 105)}).empty());
}

TEST(FaultBooks, GapWithoutUnansweredRequestIsReported) {
  const auto problems = Check({Journals().Sale(1, 100), Journals().Sale(3, 100)});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "1 sequence number(s) missing, but only 0 request(s) got no answer");
}

TEST(FaultBooks, TrainingSalesStayOutOfTheTotals) {
  Journals run = Journals().Sale(1, 100);
  run.s += "<transactionEncoded><transactionRequest>" + Base64Encode(Bytes{0xCA, 0x00}) +
           "</transactionRequest><transactionResponse>" + Answer(2) +
           "</transactionResponse></transactionEncoded>";
  EXPECT_TRUE(Check({run.Closing(2, 100)}).empty());
}

TEST(FaultBooks, AgencyAndDeliveryNotesAreBookedAsTheCardBooksThem) {
  // Version 2: a container with D6 third-party turnover, and the D7 delivery-note flag.
  const Bytes turnover = PackSignedAmount(500), agency = PackSignedAmount(200);
  Bytes request = {0xD7, 0x00,
                   0xE1, static_cast<Byte>(turnover.size() + agency.size() + 4),
                   0xD8, static_cast<Byte>(turnover.size())};
  request.insert(request.end(), turnover.begin(), turnover.end());
  request.insert(request.end(), {0xD6, static_cast<Byte>(agency.size())});
  request.insert(request.end(), agency.begin(), agency.end());
  Journals run;
  run.s += "<transactionEncoded><transactionRequest>" + Base64Encode(request) +
           "</transactionRequest><transactionResponse>" + Answer(1) +
           "</transactionResponse></transactionEncoded>";
  run.l +=
      "<report><seqNoTransactionLast>1</seqNoTransactionLast>"
      "<containerVat1><turnover>500</turnover></containerVat1>"
      "<containerThirdparty><turnover>200</turnover><count>1</count></containerThirdparty>"
      "<containerDeliverynote><turnover>500</turnover></containerDeliverynote></report>";
  EXPECT_TRUE(Check({run}).empty());
}

TEST(FaultBooks, TotalsThatMatchNoChoiceOfLostSalesAreReported) {
  // Two unanswered sales, one lost number: neither 100 + 70 nor 100 + 30 makes 150.
  const auto problems = Check({Journals().Sale(1, 100).Sale(0, 70).Sale(0, 30).Closing(2, 150)});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("card totals containerVat1=150/0"), std::string::npos);
  EXPECT_TRUE(Check({Journals().Sale(1, 100).Sale(0, 70).Sale(0, 30).Closing(2, 130)}).empty());
}

TEST(FaultBooks, JournalCutInsideARecordKeepsWhatWasComplete) {
  Journals run = Journals().Sale(1, 100);
  // Killed while the card signed the second sale: its request was journalled whole.
  run.s += "<transactionEncoded><transactionRequest>" + Request(10) + "</transactionRequest>";
  EXPECT_TRUE(Check({run, Journals().Sale(3, 1).Closing(3, 111)}).empty());
  // Killed while the request itself was written: the card never saw that sale.
  Journals cut = Journals().Sale(1, 100);
  cut.s += "<transactionEncoded><transactionRequest>" + Request(10).substr(0, 4);
  EXPECT_TRUE(Check({cut, Journals().Sale(2, 1).Closing(2, 101)}).empty());
}

}  // namespace
}  // namespace kasse
