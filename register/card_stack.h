#pragma once
// The card access of the register: the simulated QOR in this process or the pcsc-lite service,
// the connector over it, the logged exchange and the card session, with the adapters the
// protocol needs (CardLink over the exchange, CardHasher over the session).

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "card/card_exchange.h"
#include "card/card_monitor.h"
#include "card/card_session.h"
#include "card/pcsc_api.h"
#include "card/pcsc_connector.h"
#include "common/file_io.h"
#include "protocol/card_link.h"
#include "protocol/item_list.h"
#include "sim/embedded_reader.h"
#include "simreader/embedded_pcsc.h"

namespace kasse {

struct CardOptions {
  bool simulated = true;  // false: pcsc-lite
  int simVersion = 2;
  sim::Lifecycle simLifecycle = sim::Lifecycle::kActivated;
  std::string simPin = "123456";
  // The simulated card's file; empty: DefaultCardStateFile(simVersion), one card per version
  // level, so that switching versions never reads a card of the other kind.
  std::filesystem::path stateFile;
  // Tests: runs before each command reaches the simulated card (on the transmit thread).
  SimReaderSlot::BeforeTransmit simBeforeTransmit;
  // The simulated card's file calls (nullptr: the system's); tests record or fail them.
  FileIo* simIo = nullptr;
  // Tests: log records between the simulated card's snapshots (0: the card's own default),
  // and the card's old silent repair of a damaged log put back, to show a test catches it.
  std::size_t simSnapshotEvery = 0;
  bool simSilentLogRepair = false;
};

// The file of the embedded card: the one named, else the user's default card of the version.
std::filesystem::path SimStateFile(const CardOptions& options);

class ExchangeLink final : public CardLink {
 public:
  explicit ExchangeLink(CardExchange& exchange) : exchange_(exchange) {}
  Result<CardAnswer> SendHex(std::string_view command) override {
    Result<ApduAnswer> answer = exchange_.CardApdu(command);
    // Busy means unanswered here; a command not sent because an earlier one still runs is a
    // plain failure.
    if (!answer && answer.error().kind == ErrorKind::kBusy && !exchange_.LastUnanswered())
      return MakeError(ErrorKind::kCard, answer.error().message);
    if (!answer) return answer.error();
    return CardAnswer{std::move(answer->data), std::move(answer->statusWord)};
  }
  Result<CardAnswer> SendKeepingLateAnswer(std::string_view command, LateAnswer late) override {
    Result<CardAnswer> answer = SendHex(command);
    if (!answer && exchange_.LastUnanswered()) exchange_.AwaitLateAnswer(std::move(late));
    return answer;
  }
  void MonitorLabel(std::string_view text, std::uint32_t colour) override {
    exchange_.MonitorLabel(text, colour);
  }

 private:
  CardExchange& exchange_;
};

class SessionHasher final : public CardHasher {
 public:
  explicit SessionHasher(CardSession& session) : session_(session) {}
  std::optional<Sha1Digest> HashOnCard(ByteSpan data) override {
    const Result<Sha1Digest> hash = session_.HashOnCard(data);
    return hash ? std::optional<Sha1Digest>(*hash) : std::nullopt;
  }

 private:
  CardSession& session_;
};

class CardStack {
 public:
  // Without a home (some tests) the simulated card lives in memory only.

  // How long the register, when it ends, still waits for a card command that outlasted its
  // patience, so that a late signature reaches the journal.
  static constexpr std::chrono::seconds kLateAnswerWait{60};

  CardStack(const std::filesystem::path& home, const CardOptions& options);
  ~CardStack();
  CardStack(const CardStack&) = delete;
  // Waits up to `limit` for a late answer and hands it on (journals are still open then).
  // False when the card still has not answered.
  bool FinishLateAnswer(std::chrono::milliseconds limit);
  CardStack& operator=(const CardStack&) = delete;

  // The embedded reader, when the card is simulated.
  sim::EmbeddedReader* SimReader() { return simReader_.get(); }
  // Why the simulated card could not start ("…/card-v2.state.lock: Not a directory"); empty
  // when it started or the card is not simulated.
  std::string SimStartError() const;
  TPCSCConnector& Connector() { return *connector_; }
  CardMonitorLog& Log() { return log_; }
  const CardMonitorLog& Log() const { return log_; }
  CardExchange& Exchange() { return *exchange_; }
  CardSession& Session() { return *session_; }
  const CardSession& Session() const { return *session_; }
  CardLink& Link() { return *link_; }
  CardHasher& Hasher() { return *hasher_; }
  // What the simulated card said on its log since the last call (a snapshot it cannot write,
  // leftovers it removed, a folder open to others): from any thread in, on the owner's out.
  std::vector<std::string> TakeCardNotices();

 private:
  std::unique_ptr<sim::EmbeddedReader> simReader_;
  std::unique_ptr<VirtualReader> simSlot_;
  std::unique_ptr<PcscApi> api_;
  std::unique_ptr<TPCSCConnector> connector_;
  CardMonitorLog log_;
  std::unique_ptr<CardExchange> exchange_;
  std::unique_ptr<CardSession> session_;
  std::unique_ptr<ExchangeLink> link_;
  std::unique_ptr<SessionHasher> hasher_;
  std::mutex noticesMutex_;
  std::vector<std::string> notices_;
};

}  // namespace kasse
