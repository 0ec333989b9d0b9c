#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/hex_text.h"
#include "common/sha.h"
#include "protocol/tests/record_test_support.h"

namespace kasse {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::RecordFixture;

// The data of a record from the first byte after the hash element (C7 14 + 20 bytes).
std::string AfterHash(const RecordBuffer& buffer) {
  const ByteSpan all = buffer.View();
  const std::string hex = HexWritten(all);
  const std::size_t hash = hex.find("C7 14 ");
  return hash == std::string::npos ? std::string() : hex.substr(hash + 6 + 20 * 3);
}

// Fields: turnover, turnoverNeg, vat, rate, turnoverThirdParty, hasThirdParty.
void BookOne19(VatContainers& containers) {
  containers[1] = VatContainer{119, 0, 19, 0.19, 0, 0};
}

using TransactionRecordTest = RecordFixture;

TEST_F(TransactionRecordTest, ExampleRecordComesOutByteForByte) {
  BookOne19(containers);
  ASSERT_TRUE(Build());
  Bytes expected = HexParse("80 40 00 00 37 CD 04 20 26 05 12 CE 02 09 30 C6 03 69 63 68 C7 14");
  const Sha1Digest hash = Sha1(items.ItemListBytes());
  expected.insert(expected.end(), hash.begin(), hash.end());
  const Bytes tail = HexParse("C8 02 03 D2 E1 0C D8 02 11 9C DA 02 01 9C DB 02 19 00");
  expected.insert(expected.end(), tail.begin(), tail.end());
  const ByteSpan command = record.CommandBufferView();
  EXPECT_EQ(HexWritten(command), HexWritten(expected));
  EXPECT_EQ(record.CommandBuffer().Raw()[command.size()], 0x00);  // the Le byte

  // The verify data mirrors everything but the currency; the mark points at E1.
  const ByteSpan verify = record.VerifyBuffer().View();
  EXPECT_EQ(HexWritten(verify.subspan(0, 4)), "80 44 00 00");
  EXPECT_EQ(verify.size(), command.size() - 4);
  EXPECT_EQ(record.ContainerMark(), 5 + 6 + 4 + 5 + 22);
  EXPECT_EQ(verify[record.ContainerMark()], 0xE1);
  EXPECT_EQ(record.ResponseReceiptText(),
            "\r\nDatum: \t\t2026-05-12\r\nZeit: \t\t09:30\r\nBediener: \tich");
  EXPECT_THAT(monitor.Text(), HasSubstr("Transaktion\r\n\tDatum: 20260512\r\n\tZeit: 0930\r\n"
                                        "\tBediener: ich"));
  EXPECT_THAT(monitor.Text(), HasSubstr("\tW\xE4hrung: 03 D2"));
}

// A clock read a millisecond before midnight and again after it: the record's date and time
// are of the one reading, never the date of one day with the time of the next.
TEST(TransactionRecordStamp, DateAndTimeComeFromOneReadingOfTheClock) {
  const std::filesystem::path home = testing::FreshFolder();
  FunctionMonitor monitor;
  const LanguageTexts texts = testing::GermanRecordTexts();
  Journal journal{home, [] { return std::string("261231"); }};
  AppDateTime now = 0;
  AppClock clock{[&now] {
    const AppDateTime reading = now;
    now += 1.0 / 86400000;  // each reading a millisecond later
    return reading;
  }};
  TransactionRecord record{monitor, texts, journal, clock};
  now = ToAppDateTime({2026, 12, 31, 23, 59, 59, 999});
  record.BeginRecord();
  ASSERT_TRUE(record.AddDateField());
  ASSERT_TRUE(record.AddTimeField());
  EXPECT_EQ(HexWritten(record.CommandBufferView().subspan(5)), "CD 04 20 26 12 31 CE 02 23 59");
  record.BeginRecord();  // the next record reads the clock anew
  ASSERT_TRUE(record.AddDateField());
  ASSERT_TRUE(record.AddTimeField());
  EXPECT_EQ(HexWritten(record.CommandBufferView().subspan(5)), "CD 04 20 27 01 01 CE 02 00 00");
}

TEST_F(TransactionRecordTest, FlagsFollowTheCurrencyInFixedOrder) {
  BookOne19(containers);
  containers[8].turnover = 250;
  ASSERT_TRUE(Build({RecordFlag::kTraining, RecordFlag::kVatAddon}, /*versionLevel=*/2));
  EXPECT_THAT(AfterHash(record.CommandBuffer()),
              ::testing::StartsWith("C8 02 03 D2 C9 00 CA 00 D7 00 E1"));
  EXPECT_THAT(AfterHash(record.VerifyBuffer()), ::testing::StartsWith("C9 00 CA 00 D7 00 E1"));
  EXPECT_THAT(record.ResponseReceiptText(),
              HasSubstr("\r\nNettopreise \r\nTraining \r\nLieferschein "));

  // Level 1 knows no delivery-note flag but carries container 8 as E8, in the command only.
  ASSERT_TRUE(Build({}, /*versionLevel=*/1));
  EXPECT_THAT(AfterHash(record.CommandBuffer()), ::testing::EndsWith("E8 04 D8 02 25 0C"));
  EXPECT_THAT(AfterHash(record.CommandBuffer()), Not(HasSubstr("D7 00")));
  EXPECT_THAT(AfterHash(record.VerifyBuffer()), Not(HasSubstr("E8")));
}

TEST_F(TransactionRecordTest, ContainerChildrenFollowTheSale) {
  // A cancelled booking: nothing left, the magnitude in D9, positive.
  containers[1] = VatContainer{0, 500, 0, 0.19, 0, 0};
  // Rounding halves away from zero, and the odd/even digit rule of packed amounts.
  containers[2] = VatContainer{12345, 0, -18.5, 0.107, 0, 0};
  containers[3] = VatContainer{1234, 0, 18.5, 0.0, 0, 0};
  // Turnover rounding to zero: no element even with VAT in it.
  containers[4] = VatContainer{0.4, 0, 7, 0, 0, 0};
  ASSERT_TRUE(Build());
  EXPECT_EQ(AfterHash(record.CommandBuffer()),
            "C8 02 03 D2 "
            "E1 0E D8 01 0C D9 02 50 0C DA 01 0C DB 02 19 00 "
            "E2 0D D8 03 12 34 5C DA 02 01 9D DB 02 10 70 "
            "E3 0C D8 03 01 23 4C DA 02 01 9C DB 01 00");
  ASSERT_TRUE(journal.Flush());
  const std::string lFile = LFile();
  EXPECT_THAT(lFile, HasSubstr("<containerVat1><turnover>0</turnover><turnoverNeg>500</turnoverNeg>"
                               "<vat>0</vat><vatRate>1900</vatRate></containerVat1>"));
  EXPECT_THAT(lFile, HasSubstr("<vat>-19</vat><vatRate>1070</vatRate>"));
  EXPECT_THAT(lFile, HasSubstr("<vatRate>0000</vatRate></containerVat3>"));
  EXPECT_THAT(lFile, Not(HasSubstr("containerVat4")));
}

TEST_F(TransactionRecordTest, AgencyShareDependsOnVersionLevel) {
  containers[1] = VatContainer{500, 0, 80, 0.19, 500, 1};
  containers[7].turnover = 500;
  containers[8].turnover = 300;

  ASSERT_TRUE(Build({}, 2));
  EXPECT_THAT(AfterHash(record.CommandBuffer()),
              ::testing::EndsWith("E1 10 D8 02 50 0C DA 02 08 0C DB 02 19 00 D6 02 50 0C"));
  EXPECT_THAT(AfterHash(record.VerifyBuffer()), HasSubstr("D6 02 50 0C"));
  ASSERT_TRUE(journal.Flush());
  EXPECT_THAT(LFile(), HasSubstr("<turnoverthirdparty>500</turnoverthirdparty></containerVat1>"));

  ASSERT_TRUE(Build({}, 1));
  const std::string levelOne = AfterHash(record.CommandBuffer());
  EXPECT_THAT(levelOne, Not(HasSubstr("D6")));
  EXPECT_THAT(levelOne, ::testing::EndsWith("E7 04 D8 02 50 0C E8 04 D8 02 30 0C"));
  EXPECT_THAT(AfterHash(record.VerifyBuffer()), Not(HasSubstr("E7")));
  ASSERT_TRUE(journal.Flush());
  EXPECT_THAT(LFile(), HasSubstr("<containerThirdparty><turnover>500</turnover>"
                                 "</containerThirdparty><containerDeliverynote><turnover>300"
                                 "</turnover></containerDeliverynote>"));

  // An unrecognised card version: none of the newer elements, whatever the sale holds.
  ASSERT_TRUE(Build({}, 0));
  const std::string levelZero = AfterHash(record.CommandBuffer());
  for (const char* tag : {"D6", "D7 00", "E7", "E8"})
    EXPECT_THAT(levelZero, Not(HasSubstr(tag))) << tag;
}

TEST_F(TransactionRecordTest, OperatorIsCleanedForTheCardOnly) {
  ASSERT_TRUE(Build({}, 2, "Max M\xFCller"));
  EXPECT_THAT(HexWritten(record.CommandBufferView()),
              HasSubstr("C6 09 " + HexWritten(ToBytes("maxm#ller"))));
  EXPECT_THAT(record.ResponseReceiptText(), HasSubstr("Bediener: \tMax M\xFCller"));
  ASSERT_TRUE(journal.Flush());
  EXPECT_THAT(LFile(), HasSubstr("<operatorId>Max M\xFCller</operatorId>"));

  // Only blanks: the record goes on without C6, its lines and its element.
  ASSERT_TRUE(Build({}, 2, " \t "));
  EXPECT_THAT(HexWritten(record.CommandBufferView()), HasSubstr("CE 02 09 30 C7 14"));
  EXPECT_THAT(record.ResponseReceiptText(), Not(HasSubstr("Bediener")));
  EXPECT_EQ(record.AddOperatorField(std::nullopt).error().kind, ErrorKind::kMissingInput);
}

TEST_F(TransactionRecordTest, OversizedRecordIsRefusedBeforeAnythingIsJournalled) {
  for (int c = 1; c <= 6; ++c)
    containers[c] = VatContainer{1e17, 1e17, 1e16, 0.19, 1e17, 1};
  const auto built = Build();
  ASSERT_FALSE(built);
  EXPECT_EQ(built.error().kind, ErrorKind::kTooLong);
  EXPECT_THAT(built.error().English(), HasSubstr("250"));
  EXPECT_LE(record.CommandBuffer().Length(), 255);
  EXPECT_LE(record.VerifyBuffer().Length(), 255);
  EXPECT_FALSE(journal.IsOpen());  // not even the journal pair was begun
  EXPECT_TRUE(record.ResponseReceiptText().empty());

  // The sale stays totalled: a smaller retry closes the item list only once.
  for (int c = 2; c <= 6; ++c)
    containers[c] = VatContainer{};
  BookOne19(containers);
  ASSERT_TRUE(Build());
  ASSERT_TRUE(journal.Flush());
  EXPECT_THAT(LFile(), HasSubstr("<itemList></itemList><hashTransactionItems>"));
}

TEST_F(TransactionRecordTest, JournalHoldsTheTransactionInBothFiles) {
  BookOne19(containers);
  ASSERT_TRUE(Build({}, 2, "Anna <Chefin> & Co"));
  ASSERT_TRUE(journal.Flush());
  const std::string lFile = LFile();
  const std::size_t transaction = lFile.find("<transaction>");
  ASSERT_NE(transaction, std::string::npos);
  std::string hashHex = HexCompact(Sha1(items.ItemListBytes()));
  EXPECT_EQ(lFile.substr(transaction),
            "<transaction><date>20260512</date><time>0930</time>"
            "<operatorId>Anna &lt;Chefin&gt; &amp; Co</operatorId>"
            "<itemList></itemList><hashTransactionItems>" +
                hashHex +
                "</hashTransactionItems><currency>0978</currency><containerVat1>"
                "<turnover>119</turnover><vat>19</vat><vatRate>1900</vatRate></containerVat1>");
  ASSERT_TRUE(journal.Flush());
  const std::string sFile = SFile();
  EXPECT_THAT(sFile, ::testing::EndsWith("</qorParams><transactionEncoded><itemListEncoded>"
                                         "</itemListEncoded>"));
  EXPECT_THAT(journal.PendingL().Text().value(), ::testing::StartsWith("<transaction>"));

  // The signing step closes both elements; the files are then well-formed XML, record after
  // record.
  const auto scratch = home / "check.xml";
  for (int round = 0; round < 2; ++round) {
    if (round > 0) {
      ASSERT_TRUE(Build({RecordFlag::kTraining, RecordFlag::kVatAddon}, 2, "<&>"));
    }
    ASSERT_TRUE(journal.JournalWrite(kJournalL, JournalSection::kRecord, "</transaction>"));
    ASSERT_TRUE(journal.JournalWrite(kJournalS, JournalSection::kRecord, "</transactionEncoded>"));
    ASSERT_TRUE(journal.Flush());
    EXPECT_TRUE(testing::WellFormedXml(LFile() + "</kavelo>", scratch));
    EXPECT_TRUE(testing::WellFormedXml(SFile() + "</kavelo>", scratch));
  }
  ASSERT_TRUE(journal.CloseJournalPair());
  ASSERT_TRUE(journal.Flush());
  EXPECT_TRUE(testing::WellFormedXml(ReadFile(journal.LName()).value(), scratch));
  EXPECT_TRUE(testing::WellFormedXml(ReadFile(journal.SName()).value(), scratch));
}

TEST(RecordBuffer, RefusesBytesPastTheDataLimit) {
  RecordBuffer buffer;
  buffer.Begin(cmd::kTransaction);
  for (int i = 0; i < 250; ++i)
    ASSERT_TRUE(buffer.Put(static_cast<Byte>(i)));
  EXPECT_FALSE(buffer.Overflowed());
  EXPECT_FALSE(buffer.Put(0xFF));
  EXPECT_TRUE(buffer.Overflowed());
  EXPECT_EQ(buffer.Length(), 255);
  buffer.FinishRecord();
  EXPECT_EQ(buffer.Raw()[4], 250);
  EXPECT_EQ(buffer.Raw()[255], 0x00);  // room left for Le
  buffer.Begin(cmd::kVerifySignature);
  EXPECT_FALSE(buffer.Overflowed());
  EXPECT_EQ(buffer.Length(), 5);
}

}  // namespace
}  // namespace kasse
