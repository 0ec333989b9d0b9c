// What PC/SC reports reaches the card error as what happened: the codes of either backend map
// to one fault each, and the session names the cause behind a failed start, a removal or a
// failed command.

#include <gtest/gtest.h>

#include "card/pcsc_errors.h"
#include "card/tests/session_fixture.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
using testing::SessionFixture;
using Calls = std::vector<std::string>;

TEST(PcscFaults, EachCodeMapsToWhatHappened) {
  const std::pair<PcscCode, CardFault> cases[] = {
      {pcsc::kSuccess, CardFault::kNone},
      {pcsc::kNoService, CardFault::kServiceStopped},
      {pcsc::kServiceStopped, CardFault::kServiceStopped},
      {pcsc::kNoReaders, CardFault::kNoReaders},
      {pcsc::kReaderUnavailable, CardFault::kReaderRemoved},
      {pcsc::kUnknownReader, CardFault::kReaderRemoved},
      {pcsc::kNoSmartcard, CardFault::kNoCard},
      {pcsc::kRemovedCard, CardFault::kCardRemoved},
      {pcsc::kResetCard, CardFault::kCardReset},
      {pcsc::kUnresponsiveCard, CardFault::kCardUnresponsive},
      {pcsc::kUnpoweredCard, CardFault::kCardUnresponsive},
      {pcsc::kSharingViolation, CardFault::kCardShared},
      {pcsc::kTimeout, CardFault::kTimeout},
      {pcsc::kCancelled, CardFault::kCancelled},
      {pcsc::kCommError, CardFault::kOther},
  };
  for (const auto& [code, fault] : cases)
    EXPECT_EQ(FaultOf(code), fault) << PcscCodeText(code);

  EXPECT_EQ(PcscError(pcsc::kNoService).message, "the PC/SC service is not running");
  EXPECT_EQ(PcscError(pcsc::kReaderUnavailable).message, "the card reader was removed");
  EXPECT_EQ(PcscError(pcsc::kResetCard).message, "the QOR card was reset");
  EXPECT_EQ(PcscError(pcsc::kRemovedCard).kind, ErrorKind::kCard);
  EXPECT_EQ(PcscError(pcsc::kSharingViolation).kind, ErrorKind::kBusy);
  // A code without words is named, so that it can still be looked up.
  EXPECT_EQ(PcscError(pcsc::kCommError).message, "the card reader reported the error 0x80100013");
}

TEST(CardFailureCause, AStoppedServiceIsNamedAtStartUp) {
  SessionFixture f;
  f.pcsc.SetContextResult(pcsc::kNoService);
  f.session.Startup();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  const std::optional<Error> cause = f.session.FailureCause();
  ASSERT_TRUE(cause);
  EXPECT_EQ(cause->message, "the PC/SC service is not running");
  const Result<void> started = f.session.StartCard();
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error().message, "the PC/SC service is not running");
}

TEST(CardFailureCause, WithoutReadersNoReaderIsNamed) {
  SessionFixture f;
  f.session.Startup();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  ASSERT_TRUE(f.session.FailureCause());
  EXPECT_EQ(f.session.FailureCause()->message, "no card reader is connected");
}

// The QOR in "R1" has passed its start-up check and the watcher has reported it.
void Running(SessionFixture& f) {
  f.AddQorReader();
  f.pcsc.Script(0, testing::StatusSteps(0x03, 1));
  f.pcsc.Script(0, testing::CertificateSteps(testing::Certificate(300)));
  f.session.Startup();
  f.Advance(500ms);
  ASSERT_TRUE(f.session.CardReady());
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  f.host.calls.clear();
  EXPECT_FALSE(f.session.FailureCause());
}

std::string CauseAfterStateChange(std::uint32_t state) {
  SessionFixture f;
  Running(f);
  f.pcsc.SetState(0, state);
  EXPECT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  const std::optional<Error> cause = f.session.FailureCause();
  return cause ? cause->message : "(none)";
}

TEST(CardFailureCause, ARemovedCardAndARemovedReaderAreToldApart) {
  EXPECT_EQ(CauseAfterStateChange(pcsc::kStateEmpty | pcsc::kStateChanged),
            "the QOR card was removed");
  EXPECT_EQ(CauseAfterStateChange(pcsc::kStateUnknown | pcsc::kStateChanged),
            "the card reader was removed");
}

std::string CauseAfterWatchFailure(PcscCode code) {
  SessionFixture f;
  Running(f);
  f.pcsc.SetStatusChangeResult(code);
  EXPECT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  EXPECT_FALSE(f.connector.Connected());
  const std::optional<Error> cause = f.session.FailureCause();
  return cause ? cause->message : "(none)";
}

TEST(CardFailureCause, AServiceOrReaderGoneWhileTheCardIsIdleIsNamedAtOnce) {
  EXPECT_EQ(CauseAfterWatchFailure(pcsc::kNoService), "the PC/SC service is not running");
  EXPECT_EQ(CauseAfterWatchFailure(pcsc::kReaderUnavailable), "the card reader was removed");
}

TEST(CardFailureCause, AFailedCommandKeepsItsCauseUntilTheNextConnect) {
  SessionFixture f;
  Running(f);
  f.pcsc.SetTransmitFailure(pcsc::kResetCard);
  EXPECT_FALSE(f.session.ReadCardStatus());
  ASSERT_TRUE(f.session.FailureCause());
  EXPECT_EQ(f.session.FailureCause()->message, "the QOR card was reset");
  // A removal after a reset is still a removal; only a reader or service fault says more.
  f.pcsc.SetState(0, pcsc::kStateEmpty | pcsc::kStateChanged);
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_EQ(f.session.FailureCause()->message, "the QOR card was removed");

  f.pcsc.SetTransmitFailure(pcsc::kSuccess);
  f.pcsc.Script(0, {{testing::kSelectQor, "90 00", "// Rescan after insertion."}});
  f.pcsc.SetState(0, pcsc::kStatePresent | pcsc::kStateChanged);
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_TRUE(f.connector.Connected());
  EXPECT_FALSE(f.session.FailureCause());
}

}  // namespace
}  // namespace kasse
