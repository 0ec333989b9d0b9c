#include <gtest/gtest.h>

#include "card/tests/session_fixture.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
using testing::SessionFixture;
using Calls = std::vector<std::string>;

// Status and certificate of the start-up check.
std::deque<testing::ApduStep> CheckSteps(Byte lifecycle) {
  auto steps = testing::StatusSteps(lifecycle, 2);
  for (auto& step : testing::CertificateSteps(testing::Certificate(300)))
    steps.push_back(step);
  return steps;
}

// Starts up with a QOR of the given lifecycle in "R1" whose check is scripted.
void StartupWithCheck(SessionFixture& f, Byte lifecycle) {
  f.AddQorReader();
  f.pcsc.Script(0, CheckSteps(lifecycle));
  f.session.Startup();
}

TEST(CardStartup, CheckRunsOnceHalfASecondAfterTheScan) {
  SessionFixture f;
  StartupWithCheck(f, 0x03);
  EXPECT_TRUE(f.session.WatchdogRunning());
  EXPECT_EQ(f.session.NextDeadline(), f.now + 500ms);
  f.Advance(499ms);
  EXPECT_TRUE(f.host.calls.empty());
  f.Advance(1ms);
  EXPECT_EQ(f.host.calls, (Calls{"reset journal", "passed KASSE001 - 300"}));
  EXPECT_TRUE(f.session.CardReady());
  EXPECT_FALSE(f.session.WatchdogRunning());
  EXPECT_FALSE(f.session.NextDeadline().has_value());
  f.Advance(20s);
  EXPECT_EQ(f.host.calls.size(), 2u);
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
  EXPECT_FALSE(f.session.State().Certificate.empty());
}

TEST(CardStartup, PersonalisedCardAsksForTheTransportPin) {
  SessionFixture f;
  StartupWithCheck(f, 0x02);
  f.Advance(500ms);
  EXPECT_EQ(f.host.calls, (Calls{"reset journal", "transport pin", "passed KASSE001 - 300"}));
}

TEST(CardStartup, FailedScanShowsTheCardError) {
  SessionFixture f;
  f.session.Startup();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  EXPECT_FALSE(f.session.CardReady());
  EXPECT_FALSE(f.session.NextDeadline().has_value());
}

TEST(CardStartup, WatchdogRescansWhenNoCardMessageCame) {
  SessionFixture f;
  f.AddQorReader();
  f.session.SetNotifyTarget(nullptr);  // the main window does not exist yet
  f.session.Startup();
  f.Advance(500ms);
  EXPECT_FALSE(f.session.DebounceRunning());
  f.session.SetNotifyTarget(&f.host);
  f.pcsc.Script(0, {{testing::kSelectQor, "90 00", "// Rescan: SELECT QOR application."},
                    {testing::kSelectQor, "90 00", "// The watchdog selects again."}});
  f.pcsc.Script(0, CheckSteps(0x03));
  f.Advance(9499ms);
  EXPECT_TRUE(f.host.calls.empty());
  f.Advance(1ms);
  EXPECT_EQ(f.host.calls, (Calls{"reset journal", "passed KASSE001 - 300"}));
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
  // The rescan started the debounce again; the card is ready, so it does nothing more.
  f.Advance(500ms);
  EXPECT_EQ(f.host.calls.size(), 2u);
}

TEST(CardStartup, FailingStatusReadShowsTheCardError) {
  SessionFixture f;
  f.pcsc.AddReader("R1", {{testing::kSelectQor, "90 00", "// SELECT QOR application."},
                          {"00 CA 01 F1 00", "6D 00", "// Status refused."}});
  f.session.Startup();
  f.Advance(500ms);
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  EXPECT_FALSE(f.session.CardReady());
}

TEST(CardEvents, RemovalShowsTheCardErrorOnceAndInsertionRescans) {
  SessionFixture f;
  StartupWithCheck(f, 0x03);
  f.Advance(500ms);
  f.host.calls.clear();
  // The watcher's first report names the connected card: no rescan, even after the debounce.
  const std::size_t logged = f.Log().size();
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_EQ(f.Log().size(), logged);

  f.pcsc.SetState(0, pcsc::kStateEmpty | pcsc::kStateChanged);
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  EXPECT_EQ(f.Log().back(), "Karte gezogen");
  f.session.pcsc2CardRemoved();
  EXPECT_EQ(f.host.calls.size(), 1u);  // the error window is showing already

  f.pcsc.Script(0, {{testing::kSelectQor, "90 00", "// Rescan after insertion."}});
  f.pcsc.SetState(0, pcsc::kStatePresent | pcsc::kStateChanged);
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
  EXPECT_TRUE(f.connector.Connected());
  EXPECT_TRUE(f.session.DebounceRunning());
  const auto log = f.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "Karte gesteckt"), log.end());
  EXPECT_EQ(log.back(), "QOR gefunden in R1");
  // A second insertion inside the debounce is ignored.
  f.session.pcsc2CardInserted(true);
  EXPECT_EQ(f.Log().size(), log.size());
}

TEST(CardEvents, JournalParametersReadTheCertificateWhenMissing) {
  SessionFixture f;
  f.StartWithQor();
  f.pcsc.Script(0, testing::StatusSteps(0x03, 2));
  ASSERT_TRUE(f.session.ReadCardStatus());
  f.pcsc.Script(0, testing::CertificateSteps(testing::Certificate(40)));
  const JournalCardParameters params = f.session.JournalParameters();
  EXPECT_EQ(params.qorVersion, "T.2.0");
  EXPECT_EQ(params.tpId, "KASSE001");
  EXPECT_EQ(params.tpIdNo, "300");
  EXPECT_EQ(params.certificate.substr(0, 4), "MIIA");
  EXPECT_TRUE(f.pcsc.ScriptDone(0));
}

}  // namespace
}  // namespace kasse
