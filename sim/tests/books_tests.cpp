#include <gtest/gtest.h>

#include <map>

#include "sim/card_core.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::Command;
using testing::Concat;
using testing::kSelectApp;
using testing::ReportCommand;
using testing::Send;
using testing::Transaction;
using testing::Vat;

// Top-level elements of an answer by tag (containers keep their inner bytes).
std::map<Byte, Bytes> ByTag(const Bytes& data) {
  std::map<Byte, Bytes> out;
  const auto elements = SplitElements(data);
  if (!elements) return out;
  for (const Element& e : *elements)
    out[e.tag].assign(e.value.begin(), e.value.end());
  return out;
}

Bytes Packed(std::int64_t cents) {
  return PackSignedAmount(cents);
}

Bytes Inner(std::initializer_list<std::pair<Byte, Bytes>> elements) {
  Bytes out;
  for (const auto& [tag, value] : elements)
    AppendElement(out, tag, value);
  return out;
}

class Books : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000); }
  std::uint16_t Book(const Bytes& tail, const std::string& date = "20260512") {
    return Send(card, Transaction(tail, date)).sw;
  }
  QorEngine card{EngineOptions{}};
};

const Bytes kRate19 = HexParse("19 00");
const Bytes kRate7 = HexParse("07 00");

TEST_F(Books, DailyClosingSumsContainersAgencyDeliveryAndTrainingApart) {
  const Bytes withThirdParty = HexParse("E1 0F D8 02 40 0C DA 01 0C DB 02 19 00 D6 02 40 0C");
  const Bytes agencyV1 = HexParse("E7 04 D8 02 70 0C");
  const Bytes training = Concat({HexParse("CA 00"), Vat(0xE1, 5000, 0, kRate19)});
  const Bytes delivery = Concat({HexParse("D7 00"), Vat(0xE3, 800, 0, HexParse("00"))});
  const Bytes two = Concat({Vat(0xE1, 1000, 0, kRate19), Vat(0xE2, 500, 0, kRate7)});

  ASSERT_EQ(Book(two), 0x9000);
  ASSERT_EQ(Book(Vat(0xE1, 300, 200, kRate19)), 0x9000);
  ASSERT_EQ(Book(training), 0x9000);
  ASSERT_EQ(Book(withThirdParty), 0x9000);
  ASSERT_EQ(Book(delivery), 0x9000);
  ASSERT_EQ(Book(agencyV1), 0x9000);

  const auto unsignedReply = Send(card, ReportCommand(0x02));
  ASSERT_EQ(unsignedReply.sw, 0x9000);
  auto report = ByTag(unsignedReply.data);
  EXPECT_EQ(report[0xC1], Bytes{0x03});
  EXPECT_EQ(ReadUint32(report[0xCC]), 0u);
  EXPECT_EQ(ReadUint32(report[0xD2]), 1u);
  EXPECT_EQ(ReadUint32(report[0xD3]), 6u);
  EXPECT_EQ(report[0xE1], Inner({{0xD8, Packed(1700)}, {0xD9, Packed(200)}, {0xDB, kRate19}}));
  EXPECT_EQ(report[0xE2], Inner({{0xD8, Packed(500)}, {0xDB, kRate7}}));
  EXPECT_EQ(report[0xE3], Inner({{0xD8, Packed(800)}, {0xDB, HexParse("00")}}));
  EXPECT_EQ(report[0xE7], Inner({{0xD8, Packed(1100)}, {0xDC, HexParse("00 00 00 02")}}));
  EXPECT_EQ(report[0xE8], Inner({{0xD8, Packed(800)}, {0xDC, HexParse("00 00 00 01")}}));
  EXPECT_EQ(report[0xE9], Inner({{0xD8, Packed(5000)}, {0xDC, HexParse("00 00 00 01")}}));
  EXPECT_EQ(report.count(0x9E), 0u);
  // Showing totals changes nothing.
  EXPECT_EQ(Send(card, ReportCommand(0x02)).data, unsignedReply.data);

  const auto closing = Send(card, ReportCommand(0x01));
  ASSERT_EQ(closing.sw, 0x9000);
  report = ByTag(closing.data);
  EXPECT_EQ(ReadUint32(report[0xCC]), 1u);
  EXPECT_EQ(report[0xE1], Inner({{0xD8, Packed(1700)}, {0xD9, Packed(200)}, {0xDB, kRate19}}));
  EXPECT_EQ(report[0x9E].size(), 48u);

  report = ByTag(Send(card, ReportCommand(0x02)).data);
  EXPECT_EQ(report.count(0xD2), 0u);
  EXPECT_EQ(report.count(0xE1), 0u);
  EXPECT_EQ(report.count(0xE9), 0u);
  ASSERT_EQ(Book(Vat(0xE1, 100, 0, kRate19)), 0x9000);
  report = ByTag(Send(card, ReportCommand(0x01)).data);
  EXPECT_EQ(ReadUint32(report[0xD2]), 7u);
  EXPECT_EQ(ReadUint32(report[0xCC]), 2u);
}

TEST_F(Books, OverflowAndVatChangeAreMarked) {
  ASSERT_EQ(Book(Vat(0xE1, 60'000'000'000, 0, kRate19)), 0x9000);
  ASSERT_EQ(Book(Vat(0xE1, 60'000'000'000, 0, kRate19)), 0x9000);
  ASSERT_EQ(Book(Vat(0xE2, 100, 0, kRate7)), 0x9000);
  ASSERT_EQ(Book(Vat(0xE2, 100, 0, HexParse("05 00"))), 0x9000);
  auto report = ByTag(Send(card, ReportCommand(0x02)).data);
  EXPECT_EQ(report[0xE1], Inner({{0xD8, Packed(20'000'000'000)}, {0xDB, kRate19}, {0xDD, {}}}));
  EXPECT_EQ(report[0xE2], Inner({{0xD8, Packed(200)}, {0xDB, HexParse("05 00")}, {0xDE, {}}}));
}

TEST_F(Books, BookedMonthsAndSpanReport) {
  ASSERT_EQ(Book(Vat(0xE1, 100, 0, kRate19), "20260115"), 0x9000);
  ASSERT_EQ(Book(Vat(0xE1, 200, 0, kRate19), "20260301"), 0x9000);
  ASSERT_EQ(Book(Vat(0xE1, 400, 0, kRate19), "20260430"), 0x9000);
  ASSERT_EQ(Book(Vat(0xE1, 800, 0, kRate19), "20270101"), 0x9000);
  const auto months = Send(card, "00 CA 01 F2 00");
  ASSERT_EQ(months.sw, 0x9000);
  EXPECT_EQ(months.data, HexParse("D0 03 20 26 01 D4 04 00 02 03 0C"));

  const auto span = Send(card, ReportCommand(0x03, HexParse("D0 03 20 26 03 D1 03 20 26 12")));
  ASSERT_EQ(span.sw, 0x9000);
  auto report = ByTag(span.data);
  EXPECT_EQ(report[0xE1], Inner({{0xD8, Packed(600)}, {0xDB, kRate19}}));
  EXPECT_EQ(ReadUint32(report[0xCB]), 4u);
  EXPECT_EQ(report[0x9E].size(), 48u);
  EXPECT_EQ(Send(card, ReportCommand(0x03, HexParse("D0 03 20 26 05 D1 03 20 26 03"))).sw, 0x6A80);
  EXPECT_EQ(Send(card, ReportCommand(0x03, HexParse("D0 03 20 26 13 D1 03 20 26 12"))).sw, 0x6A80);
  EXPECT_EQ(Send(card, ReportCommand(0x03)).sw, 0x6A80);
  // The span report leaves the day as it was.
  EXPECT_EQ(ByTag(Send(card, ReportCommand(0x02)).data).count(0xE1), 1u);
}

TEST_F(Books, MalformedRecordsAreRefusedWithoutASequenceNumber) {
  const std::vector<std::string> bad = {
      "D8 02 11 9C",                          // a container child outside a container
      "E1 04 D8 02 11 9C",                    // no rate
      "E1 08 D8 02 11 9F DB 02 19 00",        // bad sign nibble
      "E1 08 D8 02 11 9C DB 02 1A 00",        // bad rate digit
      "E1 0A D8 02 11 9C DB 02 19 00 F0 00",  // unknown child
      "E1 09 D8 02 11 9C DB 02 19",           // child runs past its container
      "CA 01 00",                             // a flag with a value
      "C9 00 C9 00",                          // twice
  };
  for (const std::string& tail : bad) {
    EXPECT_EQ(Book(HexParse(tail)), 0x6A80) << tail;
  }
  EXPECT_EQ(Book({}, "20261301"), 0x6A80);
  EXPECT_EQ(Send(card, Command("80 40 00 00", HexParse("CE 02 09 30"))).sw, 0x6A80);
  const auto reply = Send(card, Transaction(Vat(0xE1, 119, 0, kRate19)));
  ASSERT_EQ(reply.sw, 0x9000);
  EXPECT_EQ(ReadUint32(ByTag(reply.data)[0xCB]), 1u);
}

std::uint16_t Activate(QorEngine& card, const std::string& pin) {
  return Send(card, ReportCommand(0x04, Concat({HexParse("C3 06"), ToBytes(pin)}))).sw;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000); }
  std::uint16_t Activate(const std::string& pin) { return sim::Activate(card, pin); }
  static EngineOptions Personalised(EngineOptions options = {}) {
    options.startLifecycle = kasse::sim::Lifecycle::kPersonalised;
    options.transportPin = "246810";
    return options;
  }
  QorEngine card{Personalised()};
};

TEST_F(Lifecycle, PersonalisedCardSignsNothingUntilActivated) {
  EXPECT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, kRate19))).sw, 0x6985);
  EXPECT_EQ(Send(card, ReportCommand(0x01)).sw, 0x6985);
  EXPECT_EQ(Send(card, ReportCommand(0x05)).sw, 0x6985);
  EXPECT_EQ(Activate("12345x"), 0x6A80);  // not counted as a try
  EXPECT_EQ(Activate("000000"), 0x63C2);
  const auto reply = Send(card, ReportCommand(0x04, HexParse("C3 06 32 34 36 38 31 30")));
  ASSERT_EQ(reply.sw, 0x9000);
  auto report = ByTag(reply.data);
  EXPECT_EQ(report[0xC1], Bytes{0x03});
  EXPECT_EQ(ReadUint32(report[0xCC]), 1u);
  EXPECT_EQ(report[0x9E].size(), 48u);
  EXPECT_EQ(Activate("246810"), 0x6985);  // only once
  EXPECT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, kRate19))).sw, 0x9000);
}

// GET DATA 01F2: D0 first month, D4 one offset per booked month after it.
Bytes BookedMonths(QorEngine& card) {
  const auto reply = Send(card, "00 CA 01 F2 00");
  EXPECT_EQ(reply.sw, 0x9000);
  return reply.data;
}

TEST(BookedMonths, FreshCardStartsInTheMonthItWasActivated) {
  QorEngine card{EngineOptions{}};
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const Bytes now = PackMonth(CurrentMonth());
  EXPECT_EQ(BookedMonths(card), Concat({HexParse("D0 03"), now, HexParse("D4 00")}));
  // A sale dated before it moves the first month back; its month is offset 0.
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00")), "20250312")).sw, 0x9000);
  EXPECT_EQ(BookedMonths(card), HexParse("D0 03 20 25 03 D4 01 00"));
}

// The 15th of the month `k` months after January 2001, as yyyymmdd.
std::string MonthAfter2001(int k) {
  const int year = 2001 + k / 12;
  const int month = 1 + k % 12;
  return std::to_string(year * 100 + month) + "15";
}

// The application clock may go back far: sales stay allowed, but a months answer that would
// leave a booked month out is refused with 69 84, and the span report still sums every month.
TEST(BookedMonths, MonthsTheAnswerCannotCarryAreRefusedNotDropped) {
  QorEngine card{EngineOptions{}};
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const Bytes rate = HexParse("19 00");
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, rate), "20260512")).sw, 0x9000);
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 200, 0, rate), "20010115")).sw, 0x9000);
  EXPECT_EQ(Send(card, "00 CA 01 F2 00").sw, 0x6984);
  const auto span = Send(card, ReportCommand(0x03, HexParse("D0 03 20 01 01 D1 03 20 26 12")));
  ASSERT_EQ(span.sw, 0x9000);
  EXPECT_EQ(ByTag(span.data)[0xE1], Inner({{0xD8, Packed(300)}, {0xDB, rate}}));
}

TEST(BookedMonths, OffsetsUpTo255AndAsManyMonthsAsOneAnswerCarries) {
  const Bytes rate = HexParse("19 00");
  {
    QorEngine card{EngineOptions{}};
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 1, 0, rate), MonthAfter2001(0))).sw, 0x9000);
    ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 1, 0, rate), MonthAfter2001(255))).sw, 0x9000);
    EXPECT_EQ(BookedMonths(card), HexParse("D0 03 20 01 01 D4 02 00 FF"));
    ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 1, 0, rate), MonthAfter2001(256))).sw, 0x9000);
    EXPECT_EQ(Send(card, "00 CA 01 F2 00").sw, 0x6984);
  }
  // A short answer carries 256 data bytes: D0 03 mm mm mm D4 LL and 249 offsets.
  QorEngine card{EngineOptions{}};
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  for (int k = 0; k < 249; ++k)
    ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 1, 0, rate), MonthAfter2001(k))).sw, 0x9000);
  const Bytes months = BookedMonths(card);
  ASSERT_EQ(months.size(), 256u);
  EXPECT_EQ(months[6], 249);
  EXPECT_EQ(months.back(), 248);
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 1, 0, rate), MonthAfter2001(249))).sw, 0x9000);
  EXPECT_EQ(Send(card, "00 CA 01 F2 00").sw, 0x6984);
}

TEST_F(Lifecycle, ActivationMonthIsTheFirstMonthWithoutASale) {
  EXPECT_EQ(BookedMonths(card), HexParse("D0 03 00 00 00 D4 00"));  // nothing booked
  ASSERT_EQ(Activate("246810"), 0x9000);  // the report is dated 2026-05-12
  EXPECT_EQ(BookedMonths(card), HexParse("D0 03 20 26 05 D4 00"));
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, kRate19), "20260812")).sw, 0x9000);
  EXPECT_EQ(BookedMonths(card), HexParse("D0 03 20 26 05 D4 01 03"));
}

TEST_F(Lifecycle, ThreeWrongPinsBlockActivation) {
  EXPECT_EQ(Activate("111111"), 0x63C2);
  EXPECT_EQ(Activate("222222"), 0x63C1);
  EXPECT_EQ(Activate("333333"), 0x63C0);
  EXPECT_EQ(Activate("246810"), 0x6983);
  const auto status = Send(card, "00 CA 01 F1 00");
  EXPECT_EQ(status.data[2], 0x02);
}

// The tries are kept with the books: neither a crash nor a restart gives them back.
TEST_F(Lifecycle, APinBlockSurvivesACrashAndARestart) {
  const testing::TempState temp("pin-block");
  const EngineOptions options = Personalised(temp.Options());
  const pid_t child = ::fork();
  if (child == 0) {
    auto* kept = new QorEngine(options);  // never deleted: the log holds the tries, no snapshot
    Send(*kept, kSelectApp);
    const bool tried =
        sim::Activate(*kept, "111111") == 0x63C2 && sim::Activate(*kept, "222222") == 0x63C1;
    ::_exit(tried ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  {
    QorEngine restarted(options);
    ASSERT_FALSE(restarted.StartError()) << restarted.StartError()->English();
    Send(restarted, kSelectApp);
    EXPECT_EQ(sim::Activate(restarted, "333333"), 0x63C0);
    EXPECT_EQ(sim::Activate(restarted, "246810"), 0x6983);
  }
  QorEngine again(options);
  Send(again, kSelectApp);
  EXPECT_EQ(sim::Activate(again, "246810"), 0x6983);
  EXPECT_EQ(sim::Activate(again, "111111"), 0x6983);
  EXPECT_EQ(Send(again, "00 CA 01 F1 00").data[2], 0x02);  // still personalised
}

TEST_F(Lifecycle, DeactivationEndsSigningForGood) {
  ASSERT_EQ(Activate("246810"), 0x9000);
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, kRate19))).sw, 0x9000);
  const auto reply = Send(card, ReportCommand(0x05));
  ASSERT_EQ(reply.sw, 0x9000);
  auto report = ByTag(reply.data);
  EXPECT_EQ(report[0xC1], Bytes{0x04});
  EXPECT_EQ(report[0xE1], Inner({{0xD8, Packed(100)}, {0xDB, kRate19}}));
  EXPECT_EQ(report[0x9E].size(), 48u);
  EXPECT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, kRate19))).sw, 0x6985);
  EXPECT_EQ(Send(card, ReportCommand(0x01)).sw, 0x6985);
  EXPECT_EQ(Send(card, ReportCommand(0x03, HexParse("D0 03 20 26 01 D1 03 20 26 12"))).sw, 0x6985);
  EXPECT_EQ(Send(card, ReportCommand(0x02)).sw, 0x9000);
  EXPECT_EQ(Send(card, ReportCommand(0x05)).sw, 0x6985);
  EXPECT_EQ(Send(card, ReportCommand(0x06)).sw, 0x6A86);
}

}  // namespace
}  // namespace kasse::sim
