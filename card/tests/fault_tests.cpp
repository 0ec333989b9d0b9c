// What PC/SC reports reaches the card error as what happened: the codes of either backend map
// to one fault each, and the session names the cause behind a failed start, a removal or a
// failed command.

#include <PCSC/pcsclite.h>
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
      {pcsc::kCommError, CardFault::kReaderFault},
      {pcsc::kNotTransacted, CardFault::kReaderFault},
      {pcsc::kInvalidHandle, CardFault::kRequestRefused},
      {0x8010006C, CardFault::kAccessRefused},    // CHV blocked
      {0x80100015, CardFault::kCardUnusable},     // invalid ATR
      {0x80100024, CardFault::kCardDataMissing},  // file not found
      {0x80100001, CardFault::kServiceFault},     // internal error
      {0x80100099, CardFault::kOther},
  };
  for (const auto& [code, fault] : cases)
    EXPECT_EQ(FaultOf(code), fault) << PcscCodeText(code);

  EXPECT_EQ(PcscError(pcsc::kNoService).English(), "the PC/SC service is not running");
  EXPECT_EQ(PcscError(pcsc::kReaderUnavailable).English(), "the card reader was removed");
  EXPECT_EQ(PcscError(pcsc::kResetCard).English(), "the QOR card was reset");
  EXPECT_EQ(PcscError(pcsc::kRemovedCard).kind, ErrorKind::kCard);
  EXPECT_EQ(PcscError(pcsc::kSharingViolation).kind, ErrorKind::kBusy);
  // A code without words is named, so that it can still be looked up; a grouped code is named
  // beside its words.
  EXPECT_EQ(PcscError(0x80100099).English(), "the card reader reported the error 0x80100099");
  EXPECT_EQ(PcscError(pcsc::kNotTransacted).English(),
            "the card reader could not pass the command on (0x80100016); unplug the reader and "
            "plug it in again");
}

// Every code the installed service defines has words of its own: none reaches the operator as
// a bare number.
TEST(PcscFaults, EveryCodeOfTheServiceIsNamed) {
  const long codes[] = {
      SCARD_F_INTERNAL_ERROR,
      SCARD_E_CANCELLED,
      SCARD_E_INVALID_HANDLE,
      SCARD_E_INVALID_PARAMETER,
      SCARD_E_INVALID_TARGET,
      SCARD_E_NO_MEMORY,
      SCARD_F_WAITED_TOO_LONG,
      SCARD_E_INSUFFICIENT_BUFFER,
      SCARD_E_UNKNOWN_READER,
      SCARD_E_TIMEOUT,
      SCARD_E_SHARING_VIOLATION,
      SCARD_E_NO_SMARTCARD,
      SCARD_E_UNKNOWN_CARD,
      SCARD_E_CANT_DISPOSE,
      SCARD_E_PROTO_MISMATCH,
      SCARD_E_NOT_READY,
      SCARD_E_INVALID_VALUE,
      SCARD_E_SYSTEM_CANCELLED,
      SCARD_F_COMM_ERROR,
      SCARD_F_UNKNOWN_ERROR,
      SCARD_E_INVALID_ATR,
      SCARD_E_NOT_TRANSACTED,
      SCARD_E_READER_UNAVAILABLE,
      SCARD_P_SHUTDOWN,
      SCARD_E_PCI_TOO_SMALL,
      SCARD_E_READER_UNSUPPORTED,
      SCARD_E_DUPLICATE_READER,
      SCARD_E_CARD_UNSUPPORTED,
      SCARD_E_NO_SERVICE,
      SCARD_E_SERVICE_STOPPED,
      SCARD_E_UNEXPECTED,
      SCARD_E_UNSUPPORTED_FEATURE,
      SCARD_E_ICC_INSTALLATION,
      SCARD_E_ICC_CREATEORDER,
      SCARD_E_DIR_NOT_FOUND,
      SCARD_E_FILE_NOT_FOUND,
      SCARD_E_NO_DIR,
      SCARD_E_NO_FILE,
      SCARD_E_NO_ACCESS,
      SCARD_E_WRITE_TOO_MANY,
      SCARD_E_BAD_SEEK,
      SCARD_E_INVALID_CHV,
      SCARD_E_UNKNOWN_RES_MNG,
      SCARD_E_NO_SUCH_CERTIFICATE,
      SCARD_E_CERTIFICATE_UNAVAILABLE,
      SCARD_E_NO_READERS_AVAILABLE,
      SCARD_E_COMM_DATA_LOST,
      SCARD_E_NO_KEY_CONTAINER,
      SCARD_E_SERVER_TOO_BUSY,
      SCARD_W_UNSUPPORTED_CARD,
      SCARD_W_UNRESPONSIVE_CARD,
      SCARD_W_UNPOWERED_CARD,
      SCARD_W_RESET_CARD,
      SCARD_W_REMOVED_CARD,
      SCARD_W_SECURITY_VIOLATION,
      SCARD_W_WRONG_CHV,
      SCARD_W_CHV_BLOCKED,
      SCARD_W_EOF,
      SCARD_W_CANCELLED_BY_USER,
      SCARD_W_CARD_NOT_AUTHENTICATED,
  };
  for (const long code : codes) {
    const auto value = static_cast<PcscCode>(code);
    EXPECT_NE(FaultOf(value), CardFault::kOther) << PcscCodeText(value);
    EXPECT_EQ(PcscError(value).English().find("reported the error"), std::string::npos);
  }
}

TEST(CardFailureCause, AStoppedServiceIsNamedAtStartUp) {
  SessionFixture f;
  f.pcsc.SetContextResult(pcsc::kNoService);
  f.session.Startup();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  const std::optional<Error> cause = f.session.FailureCause();
  ASSERT_TRUE(cause);
  EXPECT_EQ(cause->English(), "the PC/SC service is not running");
  const Result<void> started = f.session.StartCard();
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error().English(), "the PC/SC service is not running");
}

TEST(CardFailureCause, WithoutReadersNoReaderIsNamed) {
  SessionFixture f;
  f.session.Startup();
  EXPECT_EQ(f.host.calls, Calls{"card error"});
  ASSERT_TRUE(f.session.FailureCause());
  EXPECT_EQ(f.session.FailureCause()->English(), "no card reader is connected");
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
  return cause ? cause->English() : "(none)";
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
  return cause ? cause->English() : "(none)";
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
  EXPECT_EQ(f.session.FailureCause()->English(), "the QOR card was reset");
  // A removal after a reset is still a removal; only a reader or service fault says more.
  f.pcsc.SetState(0, pcsc::kStateEmpty | pcsc::kStateChanged);
  ASSERT_TRUE(f.connector.WaitForEvent(1s));
  f.connector.ProcessPendingEvents();
  EXPECT_EQ(f.session.FailureCause()->English(), "the QOR card was removed");

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
