#include "protocol/card_answers.h"

#include <gtest/gtest.h>

#include "common/hex_text.h"
#include "common/language_texts.h"

namespace kasse {
namespace {

// tpId "ABC", tpIdNo 42, sequence number 300, then a 48-byte signature.
Bytes TransactionAnswerBytes() {
  Bytes answer = HexParse("C4 03 41 42 43 C5 04 00 00 00 2A CB 04 00 00 01 2C 9E 30");
  for (int i = 0; i < 48; ++i)
    answer.push_back(static_cast<Byte>(i));
  return answer;
}

// The answer followed by the debug hash 9A 14 EE..EE.
Bytes WithDebugHash(Bytes answer) {
  answer.insert(answer.end(), {0x9A, 0x14});
  answer.insert(answer.end(), 20, 0xEE);
  return answer;
}

TEST(TransactionAnswer, ReadsIdentityNumbersAndSignature) {
  const Bytes answer = TransactionAnswerBytes();
  auto read = ReadTransactionAnswer(answer);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->tpId, "ABC");
  EXPECT_EQ(read->tpIdNo, 42u);
  EXPECT_EQ(read->seqNo, 300u);
  ASSERT_EQ(read->signature.size(), 48u);
  EXPECT_EQ(read->signature[47], 47);
  EXPECT_FALSE(read->debugHash);

  read = ReadTransactionAnswer(WithDebugHash(answer));
  ASSERT_TRUE(read);
  ASSERT_TRUE(read->debugHash);
  EXPECT_EQ(HexCompact(*read->debugHash), std::string(40, 'E'));
}

TEST(TransactionAnswer, EveryTruncationIsReportedNotOverread) {
  const Bytes answer = WithDebugHash(TransactionAnswerBytes());
  for (std::size_t cut = 0; cut + 1 < answer.size(); ++cut) {
    if (cut == 67) continue;  // exactly the answer without the debug hash
    auto read = ReadTransactionAnswer(ByteSpan(answer).first(cut));
    EXPECT_FALSE(read) << cut;
    if (!read) {
      EXPECT_LE(read.error().offset, cut);
    }
  }
  EXPECT_FALSE(ReadTransactionAnswer(HexParse("C4 02 41 42 C5 09 01 02 03 04 05 06 07 08 09")));
  // The offset is the tag of the element the answer ends in.
  struct {
    std::size_t cut, offset;
    const char* inside;
  } cases[] = {{1, 0, "tpId"},
               {8, 5, "tpIdNo"},
               {12, 11, "the sequence number"},
               {30, 17, "the signature"},
               {70, 67, "the debug hash"}};
  for (const auto& c : cases) {
    auto read = ReadTransactionAnswer(ByteSpan(answer).first(c.cut));
    ASSERT_FALSE(read) << c.cut;
    EXPECT_EQ(read.error().offset, c.offset) << c.cut;
    EXPECT_EQ(read.error().English(), std::string("card answer ends inside ") + c.inside);
  }
}

TEST(VerifyRecord, PlacesSequenceNumberBeforeContainersAndSignatureLast) {
  // Verify buffer of a record with E1 (container mark at 16).
  const Bytes verify = HexParse(
      "80 44 00 00 00 CD 04 20 26 05 12 CE 02 09 30 CA 00"
      " E1 04 D8 02 11 9C");
  auto command = BuildVerifyRecord(verify, 17, TransactionAnswerBytes());
  ASSERT_TRUE(command);
  const std::string hex = HexWritten(*command);
  EXPECT_EQ(hex.substr(0, 14 * 3), "80 44 00 00 4A CD 04 20 26 05 12 CE 02 09 ");
  EXPECT_NE(hex.find("CA 00 CB 04 00 00 01 2C E1 04 D8 02 11 9C 9E 30 00 01"), std::string::npos);
  EXPECT_EQ(command->back(), 0x00);
  EXPECT_EQ(command->size(), 5u + 0x4A + 1u);
  // Without a container the mark is unset and CB stands right before 9E.
  command = BuildVerifyRecord(HexParse("80 44 00 00 00 CA 00"), 0, TransactionAnswerBytes());
  ASSERT_TRUE(command);
  EXPECT_EQ(HexWritten(*command).substr(0, 32), "80 44 00 00 3A CA 00 CB 04 00 00");
}

TEST(VerifyRecord, RefusesAnswersWithoutSequenceOrSignatureAndOversizedData) {
  for (const char* answer : {"C4 01 41 9E 00", "CB 01 01", "CB 05 01"})
    EXPECT_FALSE(BuildVerifyRecord(HexParse("80 44 00 00 00"), 0, HexParse(answer))) << answer;
  Bytes large = HexParse("80 44 00 00 00");
  large.resize(5 + 200, 0x11);
  auto refused = BuildVerifyRecord(large, 0, TransactionAnswerBytes());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, ErrorKind::kTooLong);
}

LanguageTexts Texts() {
  LanguageTexts texts;
  texts.Load(IniFile::Parse("[Deutsch]\n42txt=ID\n43txt=Nr\n44txt=Erste\n45txt=Letzte\n"
                            "46txt=TA\n47txt=Bericht\n48txt=Umsatz\n49txt=Neg\n50txt=Satz\n"
                            "51txt=Ueberlauf\n53txt=Agentur\n54txt=Anzahl\n57txt=Status\n"),
             "Deutsch");
  return texts;
}

std::string Joined(const ReportAnswer& answer) {
  std::string all;
  for (const auto& write : answer.journalWrites)
    all += write;
  return all;
}

TEST(ReportAnswer, DecodesNumbersContainersAndSignature) {
  Bytes answer = HexParse(
      "C0 01 03 C4 03 41 3C 43 C5 04 00 00 00 2A CC 02 01 00 D2 04 00 00 00 01 D3 04 00 00 00 09"
      " E1 0E D8 02 11 9C D9 02 01 9D DB 02 19 00 DD 00"
      " E2 07 D8 01 0C DB 02 07 00"
      " E7 07 D8 02 50 0C CD 01 03 9E 30");
  answer.insert(answer.end(), 48, 0x77);
  const ReportAnswer decoded = ReadReportAnswer(answer, Texts());
  EXPECT_FALSE(decoded.problem);
  EXPECT_EQ(Joined(decoded),
            "<lifeCycle>03</lifeCycle><tpId>A&lt;C</tpId><tpIdNo>42</tpIdNo>"
            "<seqNoReport>256</seqNoReport><seqNoTransactionFirst>1</seqNoTransactionFirst>"
            "<seqNoTransactionLast>9</seqNoTransactionLast>"
            "<containerVat1><turnover>119</turnover><turnoverNeg>-019</turnoverNeg>"
            "<vatRate>1900</vatRate><overflow /></containerVat1>"
            "<containerVat2><turnover>0</turnover><vatRate>0700</vatRate></containerVat2>"
            "<containerThirdparty><turnover>500</turnover><cnt>3</cnt></containerThirdparty>");
  EXPECT_NE(decoded.receiptText.find("\r\nContainer1 :\r\n\tUmsatz: 119"), std::string::npos);
  EXPECT_NE(decoded.receiptText.find("\r\nBericht: \t256"), std::string::npos);
  EXPECT_NE(decoded.receiptText.find("\r\nAgentur :\r\n\tUmsatz: 500\r\n\tAnzahl: 3"),
            std::string::npos);
  ASSERT_TRUE(decoded.signature);
  EXPECT_EQ(decoded.signature->size(), 48u);
}

TEST(ReportAnswer, ShortAnswersStopCleanlyAndKeepTheJournalWellFormed) {
  Bytes answer = HexParse(
      "C0 01 03 C4 01 41 C5 01 01 CC 01 05 CB 01 07 E1 0A D8 02 11 9C DB 02 19 00 9E 30 01");
  for (std::size_t cut = 0; cut < answer.size(); ++cut) {
    const ReportAnswer decoded = ReadReportAnswer(ByteSpan(answer).first(cut), Texts());
    const std::string all = Joined(decoded);
    EXPECT_EQ(all.find("<containerVat1>") == std::string::npos,
              all.find("</containerVat1>") == std::string::npos)
        << cut;
    EXPECT_FALSE(decoded.signature);
  }
  // Ends after the mandatory elements: no signature, no problem.
  const ReportAnswer plain =
      ReadReportAnswer(HexParse("C0 01 03 C4 01 41 C5 01 01 CC 01 05"), Texts());
  EXPECT_FALSE(plain.problem);
  EXPECT_FALSE(plain.signature);
  EXPECT_TRUE(ReadReportAnswer(HexParse("C0 01"), Texts()).problem);
}

TEST(ReportAnswer, NumbersUpToEightBytesAreUnsigned) {
  const ReportAnswer decoded = ReadReportAnswer(
      HexParse("C0 01 03 C4 00 C5 04 FF FF FF FF CC 08 00 00 00 01 00 00 00 00"), Texts());
  EXPECT_EQ(Joined(decoded),
            "<lifeCycle>03</lifeCycle><tpId></tpId><tpIdNo>4294967295</tpIdNo>"
            "<seqNoReport>4294967296</seqNoReport>");
  EXPECT_TRUE(ReadReportAnswer(HexParse("C0 01 03 C4 00 C5 09 01 01 01 01 01 01 01 01 01"), Texts())
                  .problem);
}

TEST(ReportAmount, KeepsLeadingZerosAndSign) {
  EXPECT_EQ(ReportAmountText(HexParse("01 23 4C")), "01234");
  EXPECT_EQ(ReportAmountText(HexParse("50 0D")), "-500");
  EXPECT_EQ(ReportAmountText(HexParse("0C")), "0");
}

TEST(BookedMonths, ListsMonthsAcrossYears) {
  auto months = ReadBookedMonths(HexParse("D0 03 20 09 02 D1 03 00 0B 0C"));
  ASSERT_TRUE(months);
  EXPECT_EQ(MonthListLines(*months),
            (std::vector<std::string>{"+  0 | 02/2009", "+ 11 | 01/2010", "+ 12 | 02/2010"}));
  EXPECT_EQ(HexWritten(*PackedMonthOfLine("+ 11 | 01/2010")), "20 10 01");
  EXPECT_FALSE(PackedMonthOfLine("garbage"));
  EXPECT_FALSE(ReadBookedMonths(HexParse("D0 03 20 09")));
  EXPECT_FALSE(ReadBookedMonths(HexParse("D0 03 20 09 13")));
  EXPECT_FALSE(ReadBookedMonths(HexParse("D0 03 20 09 02 D1 05 00")));
  EXPECT_TRUE(ReadBookedMonths(HexParse("D0 03 20 09 02"))->offsets.empty());
}

// What a card with no month booked answers: no first month and an empty list.
TEST(BookedMonths, NothingBookedIsAnEmptyList) {
  for (const char* answer : {"D0 03 00 00 00 D4 00", "D0 03 00 00 00"}) {
    const auto months = ReadBookedMonths(HexParse(answer));
    ASSERT_TRUE(months) << answer << ": " << months.error().English();
    EXPECT_TRUE(MonthListLines(*months).empty()) << answer;
  }
  // A month offset needs a first month to count from.
  EXPECT_FALSE(ReadBookedMonths(HexParse("D0 03 00 00 00 D4 01 00")));
  const auto activated = ReadBookedMonths(HexParse("D0 03 20 26 12 D4 00"));
  ASSERT_TRUE(activated);
  EXPECT_EQ(activated->startYear, 2026);
  EXPECT_EQ(activated->startMonth, 12);
  EXPECT_TRUE(activated->offsets.empty());
}

TEST(SpanRange, FollowsTheFocusedItem) {
  EXPECT_EQ(SpanRange(5, 3, true), std::make_pair(3, 5));   // focus on the last of 3..5
  EXPECT_EQ(SpanRange(3, 3, false), std::make_pair(3, 5));  // focus on the first
  EXPECT_EQ(SpanRange(0, 2, false), std::make_pair(0, 1));
  EXPECT_FALSE(SpanRange(-1, 0, false));
  EXPECT_FALSE(SpanRange(1, 3, true));
}

}  // namespace
}  // namespace kasse
