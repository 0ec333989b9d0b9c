#include <gtest/gtest.h>

#include "card/pcsc_connector.h"
#include "card/tests/fake_pcsc.h"

namespace kasse {
namespace {

using testing::FakePcsc;
using namespace std::chrono_literals;

// Records the connector's events in the order they were raised.
struct EventLog {
  explicit EventLog(TPCSCConnector& connector) {
    connector.OnCardInserted = [this] { events.push_back("inserted"); };
    connector.OnCardActive = [this] { events.push_back("active"); };
    connector.OnCardRemoved = [this] { events.push_back("removed"); };
    connector.OnCardInvalid = [this] { events.push_back("invalid"); };
    connector.OnReaderWaiting = [this] { events.push_back("waiting"); };
    connector.OnReaderListChange = [this] { events.push_back("list"); };
    connector.OnError = [this](TErrSource source, PcscCode code) {
      errors.emplace_back(source, code);
    };
  }
  std::vector<std::string> events;
  std::vector<std::pair<TErrSource, PcscCode>> errors;
};

// Runs the owner's side of the watcher until `count` state messages were handled.
void Drain(TPCSCConnector& connector, std::size_t count) {
  std::size_t handled = 0;
  for (int round = 0; round < 100 && handled < count; ++round) {
    connector.WaitForEvent(50ms);
    handled += connector.ProcessPendingEvents();
  }
  ASSERT_EQ(handled, count);
}

// A connector over the scripted service with its events recorded.
struct Connector : ::testing::Test {
  // Reader "A" with the given script and state, listed and chosen.
  void UseReaderA(std::deque<testing::ApduStep> script = {},
                  std::uint32_t state = pcsc::kStatePresent) {
    pcsc.AddReader("A", std::move(script), state);
    ASSERT_TRUE(connector.Init());
    connector.SetUseReaderNum(0);
  }
  FakePcsc pcsc;
  TPCSCConnector connector{pcsc};
  EventLog log{connector};
};

TEST_F(Connector, InitWithoutReadersFails) {
  EXPECT_FALSE(connector.Init());
  EXPECT_EQ(connector.NumReaders(), 0);
  EXPECT_TRUE(connector.ReaderList().empty());
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.errors[0].second, pcsc::kNoReaders);
  EXPECT_TRUE(log.events.empty());
}

TEST_F(Connector, InitKeepsElevenReadersAndReportsTheList) {
  for (int i = 0; i < 12; ++i)
    pcsc.AddReader("Reader " + std::to_string(i));
  EXPECT_TRUE(connector.Init());
  EXPECT_EQ(connector.NumReaders(), 11);
  EXPECT_EQ(connector.ReaderList().back(), "Reader 10");
  EXPECT_EQ(log.events, std::vector<std::string>{"list"});
}

TEST_F(Connector, SelectionFollowsTheRebuiltListAndFailedInitClearsIt) {
  pcsc.AddReader("A");
  pcsc.AddReader("B");
  ASSERT_TRUE(connector.Init());
  connector.SetUseReaderNum(1);
  EXPECT_EQ(connector.SelectedReader(), "B");
  ASSERT_TRUE(connector.Init());
  EXPECT_EQ(connector.UseReaderNum(), 1);
  EXPECT_EQ(connector.SelectedReader(), "B");
  pcsc.SetListResult(pcsc::kNoService);
  EXPECT_FALSE(connector.Init());
  EXPECT_EQ(connector.NumReaders(), 0);
  EXPECT_EQ(connector.ReaderList().size(), 2u);
  EXPECT_EQ(connector.UseReaderNum(), -1);
  EXPECT_EQ(connector.SelectedReader(), "");
  EXPECT_FALSE(connector.Open());
}

TEST_F(Connector, ReaderSelectionOutOfRangeSelectsNone) {
  UseReaderA();
  ASSERT_TRUE(connector.Connect());
  connector.SetUseReaderNum(0);  // the same value: the connection stays
  EXPECT_TRUE(connector.Connected());
  connector.SetUseReaderNum(1);
  EXPECT_FALSE(connector.Connected());
  EXPECT_EQ(connector.UseReaderNum(), -1);
  EXPECT_EQ(connector.SelectedReader(), "");
  EXPECT_FALSE(connector.Open());
  EXPECT_FALSE(connector.Connect());
}

TEST_F(Connector, ConnectReadsAttributesAndProbesGsm) {
  UseReaderA();
  ASSERT_TRUE(connector.Connect());
  EXPECT_EQ(connector.AttrCardATR(), (Bytes{0x3B, 0x80, 0x80, 0x01, 0x01}));
  EXPECT_EQ(connector.AttrVendorName(), "Fake Vendor");
  EXPECT_EQ(connector.AttrVendorSerial(), "");
  EXPECT_EQ(connector.AttrProtocol(), 2);
  EXPECT_EQ(connector.AttrICCType(), "ISO7816A");
  EXPECT_EQ(HexWritten(pcsc.Sent().at(0)), "A0 A4 00 00 02 7F 20");
  EXPECT_TRUE(connector.GSMDirInfo().empty());
  EXPECT_EQ(log.events, (std::vector<std::string>{"list", "active"}));
}

TEST_F(Connector, GsmProbeAsksForTheResponseAfter9F) {
  Bytes dirInfo(14, 0);
  dirInfo[4] = 0x7F;
  dirInfo[5] = 0x20;
  dirInfo[6] = 2;
  dirInfo[13] = 0x30;
  UseReaderA({{"A0 A4 00 00 02 7F 20", "9F 10", "// GSM select: response waiting."},
              {"A0 C0 00 00 10", HexWritten(dirInfo) + " 90 00", "// GET RESPONSE."}});
  ASSERT_TRUE(connector.Connect());
  EXPECT_TRUE(pcsc.ScriptDone(0));
  EXPECT_EQ(connector.GSMCurrentFile(), (Bytes{0x7F, 0x20}));
  EXPECT_EQ(connector.GSMDirInfo(), dirInfo);
  EXPECT_TRUE(connector.GSMVoltage30());
  EXPECT_TRUE(connector.GSMVoltage18());
}

TEST_F(Connector, TransmitBoundsTheCommandLength) {
  UseReaderA({{HexWritten(Bytes(260, 0x11)), "90 00", "// The longest command."}});
  ASSERT_TRUE(connector.Connect());
  const Result<Bytes> longest = connector.Transmit(Bytes(260, 0x11));
  ASSERT_TRUE(longest);
  EXPECT_EQ(*longest, (Bytes{0x90, 0x00}));
  const std::size_t sent = pcsc.Sent().size();
  const Result<Bytes> tooLong = connector.Transmit(Bytes(261, 0x11));
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.error().kind, ErrorKind::kTooLong);
  EXPECT_EQ(pcsc.Sent().size(), sent);
  EXPECT_TRUE(log.errors.empty());
  pcsc.SetTransmitFailure(pcsc::kRemovedCard);
  const Result<Bytes> removed = connector.Transmit(Bytes{0x00, 0xCA, 0x01, 0xF1, 0x00});
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().English(), "the QOR card was removed");
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.errors[0].first, TErrSource::esTransmit);
}

TEST_F(Connector, WatcherRaisesInsertionRemovalAndWaiting) {
  UseReaderA({}, pcsc::kStateEmpty);
  ASSERT_TRUE(connector.Open());
  Drain(connector, 1);
  EXPECT_EQ(log.events, (std::vector<std::string>{"list", "waiting"}));
  pcsc.SetState(0, pcsc::kStatePresent | pcsc::kStateChanged);
  Drain(connector, 1);
  EXPECT_EQ(log.events.back(), "inserted");
  ASSERT_TRUE(connector.Connect());
  EXPECT_FALSE(connector.AttrCardATR().empty());
  pcsc.SetState(0, pcsc::kStateEmpty | pcsc::kStateChanged);
  Drain(connector, 1);
  EXPECT_EQ(log.events, (std::vector<std::string>{"list", "waiting", "inserted", "active",
                                                  "removed", "waiting"}));
  EXPECT_TRUE(connector.AttrCardATR().empty());
  EXPECT_FALSE(connector.Connected());
  EXPECT_TRUE(connector.Opened());
  connector.Close();
  EXPECT_FALSE(connector.Opened());
  EXPECT_EQ(pcsc.OpenContexts(), 1);
}

TEST_F(Connector, CardGoneBeforeTheWatchersFirstLookIsRemoved) {
  UseReaderA();
  pcsc.HoldStatusChanges();
  ASSERT_TRUE(connector.Open());
  ASSERT_TRUE(connector.Connect());
  pcsc.SetState(0, pcsc::kStateEmpty | pcsc::kStateChanged);
  pcsc.ReleaseStatusChanges();
  Drain(connector, 1);
  EXPECT_EQ(log.events, (std::vector<std::string>{"list", "active", "removed", "waiting"}));
  EXPECT_FALSE(connector.Connected());
}

TEST_F(Connector, MuteCardIsInvalidNotInserted) {
  UseReaderA({}, pcsc::kStatePresent | pcsc::kStateMute);
  ASSERT_TRUE(connector.Open());
  Drain(connector, 1);
  EXPECT_EQ(log.events, (std::vector<std::string>{"list", "invalid"}));
}

TEST_F(Connector, ReopeningDropsWhatTheOldWatcherPosted) {
  UseReaderA();
  ASSERT_TRUE(connector.Open());
  ASSERT_TRUE(connector.WaitForEvent(1s));
  ASSERT_TRUE(connector.Open());  // joins the first watcher before starting the second
  Drain(connector, 1);
  EXPECT_EQ(log.events, (std::vector<std::string>{"list", "inserted"}));
  EXPECT_EQ(pcsc.OpenContexts(), 2);
  connector.Close();
  EXPECT_EQ(connector.ProcessPendingEvents(), 0u);
}

}  // namespace
}  // namespace kasse
