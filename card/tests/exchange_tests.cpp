#include <gtest/gtest.h>

#include "card/card_exchange.h"
#include "card/tests/fake_pcsc.h"

namespace kasse {
namespace {

using testing::FakePcsc;

// A connected card with the given script, a logging monitor and a clock that advances 7 ms
// per reading.
struct ExchangeFixture {
  explicit ExchangeFixture(std::deque<testing::ApduStep> script) {
    pcsc.AddReader("A", std::move(script));
    EXPECT_TRUE(connector.Init());
    connector.SetUseReaderNum(0);
    EXPECT_TRUE(connector.Connect());
    monitor.ShowMonitor(1, 0);
    exchange.SetClock([this] {
      ticks += 7;
      return CardExchange::Clock::time_point(std::chrono::milliseconds(ticks));
    });
  }
  FakePcsc pcsc;
  TPCSCConnector connector{pcsc};
  CardMonitorLog monitor;
  CardExchange exchange{connector, monitor};
  long ticks = 0;
};

TEST(CardExchange, CommandsGoAsBytesAndAreLoggedInTheFormOfTheirKind) {
  ExchangeFixture f({{"00 B0 01 00 DC", "30 82 01 00 90 00", "// READ BINARY, offset 256."},
                     {"80 44 00 00 02 CB 00 00", "69 88", "// VERIFY SIGNATURE, refused."}});
  Result<CardAnswer> answer = f.exchange.Send(HexParse("00 B0 01 00 DC"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, HexParse("30 82 01 00"));
  EXPECT_TRUE(answer->Accepted());
  answer = f.exchange.Send(HexParse("80 44 00 00 02 CB 00 00"));
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->data.empty());
  EXPECT_EQ(answer->statusWord, 0x6988);
  const auto& lines = f.monitor.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "Card,APDU;00 b0 0100 DC");
  EXPECT_EQ(lines[0].colour, kMonitorWindowText);
  EXPECT_EQ(lines[1].text, "Result;   30 82 01 00 90 00  <7 ms>");
  EXPECT_EQ(lines[1].colour, kMonitorBlack);
  EXPECT_EQ(lines[2].text, "Card,APDU;8044000002CB0000");
  EXPECT_EQ(lines[3].text, "Result;   69 88  <7 ms>");
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

TEST(CardExchange, EveryAnswerComesWithItsStatusWordAndOnly9000IsAccepted) {
  ExchangeFixture f({{"00 A4 04 00", "6A 82", "// Not found."},
                     {"00 A4 04 00", "90", "// A single byte."},
                     {"00 A4 04 00", "61 10", "// No automatic GET RESPONSE."},
                     {"00 A4 04 00", "01 02 90 00", "// Data and success."}});
  const Bytes select = HexParse("00 A4 04 00");
  Result<CardAnswer> answer = f.exchange.Send(select);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->statusWord, 0x6A82);
  EXPECT_FALSE(answer->Accepted());
  answer = f.exchange.Send(select);
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error().kind, ErrorKind::kCard);
  answer = f.exchange.Send(select);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->statusWord, 0x6110);
  EXPECT_FALSE(answer->Accepted());
  answer = f.exchange.Send(select);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->Accepted());
  EXPECT_EQ(answer->data, (Bytes{0x01, 0x02}));
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

TEST(CardExchange, ATransmissionFailureSaysWhatPcscReportedAndLogsNoResult) {
  ExchangeFixture f({});
  f.pcsc.SetTransmitFailure(pcsc::kResetCard);
  const Result<CardAnswer> failed = f.exchange.Send(HexParse("00 CA 01 F1 00"));
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().English(), "the QOR card was reset");
  EXPECT_EQ(f.connector.LastFault(), CardFault::kCardReset);
  ASSERT_EQ(f.monitor.Lines().size(), 1u);
  // Too long for the reader: not sent.
  f.pcsc.SetTransmitFailure(pcsc::kSuccess);
  const Result<CardAnswer> tooLong = f.exchange.Send(Bytes(261, 0));
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.error().kind, ErrorKind::kTooLong);
  EXPECT_EQ(f.monitor.Lines().size(), 2u);
  EXPECT_EQ(f.pcsc.Sent().size(), 2u);  // the GSM probe and the one failed command
}

TEST(CardExchange, ClosedMonitorLogsNothing) {
  ExchangeFixture f({{"00 CA 01 F1 00", "90 00", "// Status."}});
  f.monitor.WindowClosed();
  EXPECT_TRUE(f.exchange.Send(HexParse("00 CA 01 F1 00")));
  f.exchange.MonitorLabel("QOR-Status", kMonitorBlue);
  EXPECT_TRUE(f.monitor.Lines().empty());
}

TEST(CardMonitor, DropsElevenOldestLinesPast32000Characters) {
  CardMonitorLog monitor;
  monitor.ShowMonitor(1, 1);
  const std::string line(99, 'x');  // 100 characters with its line break
  for (int i = 0; i < 320; ++i)
    monitor.AddLine(std::to_string(i % 10) + line.substr(1));
  EXPECT_EQ(monitor.TextLength(), 31999u);
  monitor.AddLine("next", kMonitorBlue);  // not yet past the bound before adding
  EXPECT_EQ(monitor.Lines().size(), 321u);
  EXPECT_GT(monitor.TextLength(), CardMonitorLog::kTrimThreshold);
  monitor.AddLine("", kMonitorRed);
  EXPECT_EQ(monitor.Lines().size(), 311u);
  EXPECT_EQ(monitor.Lines().front().text[0], '1');
  EXPECT_EQ(monitor.Lines().back().text, " ");
  EXPECT_EQ(monitor.Lines().back().colour, kMonitorRed);
  EXPECT_EQ(monitor.TextLength(), monitor.Text().size());
  monitor.Clear();
  EXPECT_EQ(monitor.TextLength(), 0u);
}

}  // namespace
}  // namespace kasse
