// A card that stops answering: the command counts as unanswered after the patience limit, the
// card error follows, the card is left alone while its transmit still runs, and an answer that
// comes after all is logged and handed on. The fake card blocks every transmit until released.

#include <gtest/gtest.h>

#include "card/pin_mask.h"
#include "card/tests/session_fixture.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
using testing::SessionFixture;

bool Logged(const CardMonitorLog& monitor, const std::string& text, MonitorColour colour) {
  for (const MonitorLine& line : monitor.Lines())
    if (line.text == text && line.colour == colour) return true;
  return false;
}

TEST(CardPatience, AStalledCommandIsUnansweredAndItsLateAnswerIsLoggedAndHandedOn) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, {{"00 CA 01 F2 00", "20 26 05 90 00", "// GET DATA booked months."}});
  f.exchange.SetPatience(20ms);
  f.pcsc.HoldTransmits();
  const Result<CardAnswer> unanswered = f.exchange.Send(HexParse("00 CA 01 F2 00"));
  ASSERT_FALSE(unanswered);
  EXPECT_EQ(unanswered.error().kind, ErrorKind::kBusy);
  EXPECT_TRUE(f.exchange.LastUnanswered());
  EXPECT_TRUE(f.exchange.CardStoppedAnswering());
  EXPECT_TRUE(Logged(f.monitor, "Keine Antwort der Karte nach 20 ms", kMonitorRed));
  // The card error path, as for a removed card.
  EXPECT_EQ(f.host.calls, std::vector<std::string>{"card error"});

  // While the transmit runs the card is not used: nothing more reaches it.
  const std::size_t sent = f.pcsc.Sent().size();
  const Result<CardAnswer> busy = f.exchange.Send(HexParse("00 CA 01 F1 00"));
  ASSERT_FALSE(busy);
  EXPECT_EQ(busy.error().kind, ErrorKind::kBusy);
  EXPECT_FALSE(f.exchange.LastUnanswered());
  EXPECT_TRUE(Logged(f.monitor, "Karte noch belegt: Befehl nicht gesendet", kMonitorRed));
  EXPECT_FALSE(f.connector.Connect());
  EXPECT_FALSE(f.connector.Init());
  EXPECT_EQ(f.pcsc.HeldTransmits(), 1);
  EXPECT_EQ(f.pcsc.Sent().size(), sent);

  std::vector<std::optional<CardAnswer>> late;
  f.exchange.AwaitLateAnswer(
      [&late](const std::optional<CardAnswer>& answer) { late.push_back(answer); });
  f.pcsc.ReleaseTransmits();
  ASSERT_TRUE(f.connector.FinishLateTransmit(1h));
  ASSERT_EQ(late.size(), 1u);
  ASSERT_TRUE(late[0]);
  EXPECT_EQ(late[0]->data, HexParse("20 26 05"));
  EXPECT_TRUE(late[0]->Accepted());
  EXPECT_TRUE(Logged(f.monitor, "Sp\xE4te Antwort der Karte", kMonitorDarkRed));
  EXPECT_FALSE(f.connector.TransmitRunning());
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

TEST(CardPatience, ALateAnswerThatComesBeforeItsHandlerIsKept) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, {{"80 40 00 00 01 AA 00", "6A 80", "// TRANSACTION, refused late."}});
  f.exchange.SetPatience(10ms);
  f.pcsc.HoldTransmits();
  EXPECT_FALSE(f.exchange.Send(HexParse("80 40 00 00 01 AA 00")));
  f.pcsc.ReleaseTransmits();
  ASSERT_TRUE(f.connector.FinishLateTransmit(1h));
  std::optional<CardAnswer> late;
  f.exchange.AwaitLateAnswer([&late](const std::optional<CardAnswer>& answer) { late = answer; });
  ASSERT_TRUE(late);
  EXPECT_EQ(late->statusWord, 0x6A80);
  EXPECT_TRUE(late->data.empty());
}

TEST(CardPatience, TheWaitPumpsTheOwnersEventsAndAnAnswerWithinThePatienceCounts) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, {{"00 CA 01 F2 00", "20 26 05 90 00", "// GET DATA booked months."}});
  f.pcsc.HoldTransmits();
  int pumped = 0;
  // The owner's loop runs while the card works; here it is what lets the card answer.
  f.exchange.SetWaitPump([&] {
    if (++pumped == 1) f.pcsc.ReleaseTransmits();
  });
  const Result<CardAnswer> answer = f.exchange.Send(HexParse("00 CA 01 F2 00"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, HexParse("20 26 05"));
  EXPECT_GE(pumped, 1);
  EXPECT_FALSE(f.exchange.CardStoppedAnswering());
  EXPECT_TRUE(f.host.calls.empty());
}

TEST(CardPatience, ARemovalWhileTheTransmitRunsDisconnectsOnlyAfterIt) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, {{"00 CA 01 F2 00", "20 26 05 90 00", "// GET DATA booked months."}});
  f.exchange.SetPatience(10ms);
  f.pcsc.HoldTransmits();
  EXPECT_FALSE(f.exchange.Send(HexParse("00 CA 01 F2 00")));
  const int disconnects = f.pcsc.Disconnects();
  f.connector.Disconnect();
  EXPECT_FALSE(f.connector.Connected());
  // The handle stays open under the running transmit.
  EXPECT_EQ(f.pcsc.Disconnects(), disconnects);
  f.pcsc.ReleaseTransmits();
  std::optional<CardAnswer> late;
  f.exchange.AwaitLateAnswer([&late](const std::optional<CardAnswer>& answer) { late = answer; });
  ASSERT_TRUE(f.connector.FinishLateTransmit(1h));
  ASSERT_TRUE(late);
  EXPECT_EQ(late->data, HexParse("20 26 05"));
  EXPECT_EQ(f.pcsc.Disconnects(), disconnects + 1);
  EXPECT_TRUE(f.connector.Connect());
}

struct MaskCase {
  const char* command;
  const char* logged;
};

TEST(PinMask, OnlyThePinDigitsOfAReportCommandAreMasked) {
  const MaskCase cases[] = {
      // Activation as the register sends it: date, time, PIN, Le.
      {"80 42 04 00 12 CD 04 20 26 05 12 CE 02 09 30 C3 06 31 32 33 34 35 36 00",
       "80 42 04 00 12 CD 04 20 26 05 12 CE 02 09 30 C3 06 ** ** ** ** ** ** 00"},
      // A PIN element cut short is masked up to the end.
      {"80 42 04 00 05 C3 06 31 32", "80 42 04 00 05 C3 06 ** **"},
      // Other commands, and C3 bytes that are not a tag, stay as written.
      {"80 42 01 00 0A CD 04 20 26 05 12 CE 02 C3 06 00",
       "80 42 01 00 0A CD 04 20 26 05 12 CE 02 C3 06 00 "},
      {"80 40 00 00 04 C3 02 31 32 00", "80 40 00 00 04 C3 02 31 32 00 "},
      {"00 A4 04 00", "00 A4 04 00"},
      {"", ""},
  };
  for (const MaskCase& c : cases)
    EXPECT_EQ(CommandTextWithoutPin(HexParse(c.command)), c.logged) << c.command;
}

TEST(PinMask, TheCardMonitorNeverShowsTheTransportPin) {
  SessionFixture f;
  f.StartWithQor();
  const std::string activation =
      "80 42 04 00 12 CD 04 20 26 05 12 CE 02 09 30 C3 06 36 35 34 33 32 31 00";
  f.pcsc.Script(0, {{activation, "90 00", "// REPORT activation."}});
  EXPECT_TRUE(f.exchange.Send(HexParse(activation)));
  EXPECT_EQ(f.pcsc.Sent().back(), HexParse(activation));
  EXPECT_TRUE(Logged(f.monitor,
                     "Card,APDU;80 42 04 00 12 CD 04 20 26 05 12 CE 02 09 30 C3 06 ** ** ** ** "
                     "** ** 00",
                     kMonitorWindowText));
  EXPECT_EQ(f.monitor.Text().find("36 35 34 33 32 31"), std::string::npos);
}

}  // namespace
}  // namespace kasse
