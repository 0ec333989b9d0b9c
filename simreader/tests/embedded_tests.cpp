// The card session over the in-process simulated QOR: the real engine answers every command.

#include <gtest/gtest.h>

#include "card/card_session.h"
#include "common/base_n.h"
#include "common/sha.h"
#include "simreader/embedded_pcsc.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;

// A card without the QOR application: every command is refused with "not found".
class BlankCardReader final : public VirtualReader {
 public:
  Bytes Atr() const override { return {0x3B, 0x00}; }
  bool CardPresent() const override { return true; }
  Result<Bytes> Transmit(ByteSpan) override { return Bytes{0x6A, 0x82}; }
  std::uint64_t WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    const std::uint64_t generation = cancels_;
    woken_.wait_for(lock, timeout, [&] { return cancels_ != generation; });
    return seen;
  }
  void Cancel() override {
    {
      std::lock_guard lock(mutex_);
      ++cancels_;
    }
    woken_.notify_all();
  }
  std::uint64_t ChangeCounter() const override { return 0; }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  std::uint64_t cancels_ = 0;
};

sim::EngineOptions Options(int versionLevel) {
  sim::EngineOptions options;
  options.versionLevel = versionLevel;
  return options;
}

struct EmbeddedFixture {
  explicit EmbeddedFixture(int versionLevel, bool blankFirst = true)
      : qor(Options(versionLevel)), qorSlot(qor) {
    if (blankFirst) pcsc.AddReader("Blank Reader 0", blank);
    pcsc.AddReader("QOR Sim Reader 1", qorSlot);
    monitor.ShowMonitor(1, 0);
  }
  bool Contains(const std::string& text) const {
    for (const auto& line : monitor.Lines())
      if (line.text == text) return true;
    return false;
  }
  // Runs the owner's loop until `done` holds or ten seconds passed (a loaded machine).
  template <typename Done>
  bool RunUntil(Done done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      connector.WaitForEvent(25ms);
      connector.ProcessPendingEvents();
      session.RunDueTimers();
    }
    return done();
  }

  BlankCardReader blank;
  sim::EmbeddedReader qor;
  SimReaderSlot qorSlot;
  EmbeddedPcscApi pcsc;
  TPCSCConnector connector{pcsc};
  CardMonitorLog monitor;
  CardExchange exchange{connector, monitor};
  CardSession session{exchange};
};

TEST(EmbeddedCard, ScanSkipsTheBlankCardAndReadsALevelTwoQor) {
  EmbeddedFixture f(2);
  ASSERT_TRUE(f.session.StartCard());
  EXPECT_TRUE(f.Contains("keine QOR in Blank Reader 0"));
  EXPECT_TRUE(f.Contains("QOR gefunden in QOR Sim Reader 1"));
  ASSERT_TRUE(f.session.ReadCardStatus());
  const CardState& state = f.session.State();
  EXPECT_EQ(state.VersionLevel, 2);
  EXPECT_EQ(state.lifeCycleCode, "03");
  EXPECT_FALSE(state.TpId.empty());
  EXPECT_FALSE(state.HashLength.empty());
  EXPECT_FALSE(state.Algorithms.empty());
  ASSERT_TRUE(f.session.LoadCertificate());
  const auto certificate = Base64Decode(state.Certificate);
  ASSERT_TRUE(certificate.has_value());
  EXPECT_GT(certificate->size(), 255u);
  EXPECT_EQ((*certificate)[0], 0x30);
  EXPECT_EQ((*certificate)[1], 0x82);
}

TEST(EmbeddedCard, LevelOneQorAndHashOnTheCard) {
  EmbeddedFixture f(1, false);
  ASSERT_TRUE(f.session.StartCard());
  ASSERT_TRUE(f.session.ReadCardStatus());
  EXPECT_EQ(f.session.State().VersionLevel, 1);
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<Byte>(i * 7);
  const auto hash = f.session.HashOnCard(data);
  ASSERT_TRUE(hash.has_value());
  EXPECT_EQ(*hash, Sha1(data));
}

TEST(EmbeddedCard, RemovalAndInsertionReachTheSession) {
  EmbeddedFixture f(2);
  ASSERT_TRUE(f.session.StartCard());
  // The watcher's first report and the end of the debounce come before the card is pulled.
  ASSERT_TRUE(f.RunUntil([&] { return f.connector.ReaderState() != 0; }));
  ASSERT_TRUE(f.RunUntil([&] { return !f.session.DebounceRunning(); }));
  f.qor.RemoveCard();
  ASSERT_TRUE(f.RunUntil([&] { return f.Contains("Karte gezogen"); }));
  EXPECT_FALSE(f.connector.Connected());
  f.qor.InsertCard();
  ASSERT_TRUE(f.RunUntil([&] { return f.Contains("Karte gesteckt"); }));
  EXPECT_TRUE(f.connector.Connected());
  EXPECT_EQ(f.connector.SelectedReader(), "QOR Sim Reader 1");
  ASSERT_TRUE(f.session.ReadCardStatus());
}

}  // namespace
}  // namespace kasse
