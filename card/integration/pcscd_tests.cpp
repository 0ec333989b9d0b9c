// The card session over the real PC/SC stack: pcscd with the vpcd readers (started by the
// pcscd fixture) and qor-sim daemons of this test on them. The first vpcd reader listens on
// port 35963, the second on 35964.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "card/card_session.h"
#include "card/pcsc_lite.h"
#include "common/sha.h"
#include "sim/tests/pcsc/qor_sim_process.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;

using Daemon = QorSimProcess;

class PcscdSession : public ::testing::Test {
 protected:
  void SetUp() override {
    PcscHandle context = 0;
    std::string readers;
    const bool listed = pcsc.EstablishContext(context) == pcsc::kSuccess &&
                        pcsc.ListReaders(context, readers) == pcsc::kSuccess;
    if (context != 0) pcsc.ReleaseContext(context);
    if (!listed || readers.find("Virtual PCD") == std::string::npos)
      GTEST_SKIP() << "no vpcd reader in pcscd";
    for (std::size_t start = 0; start < readers.size(); start = readers.find('\0', start) + 1) {
      const std::string name = readers.c_str() + start;
      if (!name.empty()) vpcdReaders.push_back(name);
    }
    // A card left from an earlier daemon (ours just stopped, or another's) would answer for
    // the daemons of this test.
    for (std::size_t i = 0; i < vpcdReaders.size(); ++i)
      ASSERT_TRUE(WaitForReader(i, false)) << vpcdReaders[i] << " still holds a card";
    monitor.ShowMonitor(1, 0);
    connector.OnError = [this](TErrSource source, PcscCode code) {
      char text[64];
      std::snprintf(text, sizeof text, "error %d %08X", static_cast<int>(source), code);
      monitor.AddLine(text);
    };
  }

  // Waits until pcscd sees a card in the reader, or none.
  bool WaitForReader(std::size_t index, bool present) {
    PcscHandle context = 0;
    if (pcsc.EstablishContext(context) != pcsc::kSuccess) return false;
    std::uint32_t state = 0;
    const auto end = std::chrono::steady_clock::now() + 10s;
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < end) {
      const std::uint32_t current = state;
      if (pcsc.GetStatusChange(context, vpcdReaders[index], current, state, 500ms) ==
          pcsc::kTimeout)
        state = current;
      reached = ((state & pcsc::kStatePresent) != 0) == present;
    }
    pcsc.ReleaseContext(context);
    return reached;
  }

  bool Logged(const std::string& text) const {
    for (const auto& line : monitor.Lines())
      if (line.text == text) return true;
    return false;
  }
  // A daemon needs a moment to reach its reader: the scan is retried until it finds the QOR.
  bool ScanUntilFound() {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
      if (session.StartCard()) return true;
      std::this_thread::sleep_for(200ms);
    }
    return false;
  }
  // The owner's loop: watcher messages and timers, until `done` holds or 15 s passed.
  template <typename Done>
  bool RunUntil(Done done) {
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!done() && std::chrono::steady_clock::now() < end) {
      connector.WaitForEvent(50ms);
      connector.ProcessPendingEvents();
      session.RunDueTimers();
    }
    return done();
  }
  std::string Reader(std::size_t index) const {
    return index < connector.ReaderList().size() ? connector.ReaderList()[index] : "";
  }

  // Declared first so that the daemons stop only after the connector let go of their cards.
  std::vector<std::unique_ptr<Daemon>> daemons;
  Daemon& StartDaemon(std::vector<std::string> args) {
    daemons.push_back(std::make_unique<Daemon>(std::move(args)));
    return *daemons.back();
  }

  PcscLiteApi pcsc;
  std::vector<std::string> vpcdReaders;
  TPCSCConnector connector{pcsc};
  CardMonitorLog monitor;
  CardExchange exchange{connector, monitor};
  CardSession session{exchange};
};

TEST_F(PcscdSession, FindsTheQorBehindACardWithoutTheApplication) {
  StartDaemon({"--port", "35963", "--status-word", "A4:6A82"});
  StartDaemon({"--port", "35964"});
  ASSERT_TRUE(WaitForReader(0, true) && WaitForReader(1, true));
  ASSERT_TRUE(ScanUntilFound()) << monitor.Text();
  EXPECT_TRUE(Logged("keine QOR in " + Reader(0))) << monitor.Text();
  EXPECT_TRUE(Logged("QOR gefunden in " + Reader(1)));
  EXPECT_EQ(connector.UseReaderNum(), 1);
  ASSERT_TRUE(session.ReadCardStatus());
  EXPECT_EQ(session.State().VersionLevel, 2);
  EXPECT_EQ(session.State().lifeCycleCode, "03");
  EXPECT_FALSE(session.State().HashLength.empty());
  EXPECT_FALSE(session.State().Algorithms.empty());
  ASSERT_TRUE(session.LoadCertificate());
  EXPECT_EQ(session.State().Certificate.substr(0, 3), "MII");
  const Bytes data(200, 0x42);
  const auto hash = session.HashOnCard(data);
  ASSERT_TRUE(hash.has_value());
  EXPECT_EQ(*hash, Sha1(data));
}

TEST_F(PcscdSession, LevelOneQorBehindAnEmptyReader) {
  StartDaemon({"--port", "35964", "--version-level", "1"});
  ASSERT_TRUE(ScanUntilFound()) << monitor.Text();
  EXPECT_TRUE(Logged("QOR gefunden in " + Reader(1)));
  ASSERT_TRUE(session.ReadCardStatus());
  EXPECT_EQ(session.State().VersionLevel, 1);
  EXPECT_EQ(session.State().HashLength, "");
  EXPECT_TRUE(session.LoadCertificate());
}

TEST_F(PcscdSession, StoppingTheCardRemovesItAndStartingItRescans) {
  Daemon& qor = StartDaemon({"--port", "35963"});
  ASSERT_TRUE(ScanUntilFound()) << monitor.Text();
  ASSERT_TRUE(RunUntil([&] { return !session.DebounceRunning(); }));
  qor.Stop();
  ASSERT_TRUE(RunUntil([&] { return Logged("Karte gezogen"); })) << monitor.Text();
  EXPECT_FALSE(connector.Connected());
  const std::size_t before = monitor.Lines().size();
  qor.Start();
  ASSERT_TRUE(RunUntil([&] { return Logged("Karte gesteckt"); })) << monitor.Text();
  bool rescanned = false;
  for (std::size_t i = before; i < monitor.Lines().size(); ++i)
    rescanned = rescanned || monitor.Lines()[i].text == "QOR gefunden in " + Reader(0);
  EXPECT_TRUE(rescanned) << monitor.Text();
  EXPECT_TRUE(session.ReadCardStatus());
}

}  // namespace
}  // namespace kasse
