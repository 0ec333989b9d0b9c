#pragma once
// The card access of the register: the connector over the backend the front-end built
// (card_backend.h), the logged exchange and the card session, with the adapters the protocol
// needs (CardLink over the exchange, CardHasher over the session).

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "card/card_backend.h"
#include "card/card_exchange.h"
#include "card/card_monitor.h"
#include "card/card_session.h"
#include "card/pcsc_connector.h"
#include "protocol/card_link.h"
#include "protocol/item_list.h"

namespace kasse {

class ExchangeLink final : public CardLink {
 public:
  explicit ExchangeLink(CardExchange& exchange) : exchange_(exchange) {}
  Result<CardAnswer> Send(ByteSpan command) override {
    Result<CardAnswer> answer = exchange_.Send(command);
    // Busy means unanswered here; a command not sent because an earlier one still runs is a
    // plain failure.
    if (!answer && answer.error().kind == ErrorKind::kBusy && !exchange_.LastUnanswered()) {
      Error plain = answer.error();
      plain.kind = ErrorKind::kCard;
      return plain;
    }
    return answer;
  }
  Result<CardAnswer> SendKeepingLateAnswer(ByteSpan command, LateAnswer late) override {
    Result<CardAnswer> answer = Send(command);
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
  // How long the register, when it ends, still waits for a card command that outlasted its
  // patience, so that a late signature reaches the journal.
  static constexpr std::chrono::seconds kLateAnswerWait{60};

  // `backend` must not be null.
  explicit CardStack(std::unique_ptr<CardBackend> backend);
  ~CardStack();
  CardStack(const CardStack&) = delete;
  // Waits up to `limit` for a late answer and hands it on (journals are still open then).
  // False when the card still has not answered.
  bool FinishLateAnswer(std::chrono::milliseconds limit);
  CardStack& operator=(const CardStack&) = delete;

  // The card lives inside this process, not behind pcsc-lite.
  bool InProcess() const { return backend_->InProcess(); }
  // Why the card inside this process could not start; none when it started or is not here.
  std::optional<Error> StartError() const { return backend_->StartError(); }
  TPCSCConnector& Connector() { return *connector_; }
  CardMonitorLog& Log() { return log_; }
  const CardMonitorLog& Log() const { return log_; }
  CardExchange& Exchange() { return *exchange_; }
  CardSession& Session() { return *session_; }
  const CardSession& Session() const { return *session_; }
  CardLink& Link() { return *link_; }
  CardHasher& Hasher() { return *hasher_; }
  // What the card said on its own since the last call: from any thread in, on the owner's out.
  std::vector<std::string> TakeCardNotices() { return backend_->TakeNotices(); }

 private:
  std::unique_ptr<CardBackend> backend_;
  std::unique_ptr<TPCSCConnector> connector_;
  CardMonitorLog log_;
  std::unique_ptr<CardExchange> exchange_;
  std::unique_ptr<CardSession> session_;
  std::unique_ptr<ExchangeLink> link_;
  std::unique_ptr<SessionHasher> hasher_;
};

}  // namespace kasse
