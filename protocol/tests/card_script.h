#pragma once
// Test doubles for the protocol's surroundings: a card that follows an APDU script and an
// operator who answers as told.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_text.h"
#include "protocol/card_link.h"
#include "protocol/reports.h"

namespace kasse {

// An APDU script: each command the card is to receive, with the answer it gives.
struct ScriptedCard : CardLink {
  struct Step {
    std::string expectPrefix;  // compact hex the command must start with
    bool ok;
    std::string answer;  // the data; for a refusal its status word ("6985"), or "" for none
  };
  std::deque<Step> steps;
  std::vector<Bytes> sent;
  std::function<void()> onSend;  // runs as each command arrives, before it is answered
  Result<CardAnswer> Send(ByteSpan command) override {
    if (onSend) onSend();
    sent.emplace_back(command.begin(), command.end());
    if (steps.empty()) return MakeError(ErrorKind::kCard, "no answer scripted");
    Step step = steps.front();
    steps.pop_front();
    EXPECT_EQ(HexCompact(command).rfind(step.expectPrefix, 0), 0u) << HexWritten(command);
    if (step.ok) return CardAnswer{HexParse(step.answer), 0x9000};
    if (step.answer.empty()) return MakeError(ErrorKind::kCard, "no answer");
    const Bytes status = HexParse(step.answer);
    return CardAnswer{{}, static_cast<std::uint16_t>(status.at(0) << 8 | status.at(1))};
  }
  // The next command goes unanswered; `late` then holds where its answer would go.
  bool stallNext = false;
  LateAnswer late;
  Result<CardAnswer> SendKeepingLateAnswer(ByteSpan command, LateAnswer lateAnswer) override {
    if (!stallNext) return Send(command);
    stallNext = false;
    sent.emplace_back(command.begin(), command.end());
    late = std::move(lateAnswer);
    return MakeError(ErrorKind::kBusy, "no answer in time");
  }
  void MonitorLabel(std::string_view, std::uint32_t) override {}
};

// The operator's side of a report: every question answered as `answers` says (OK when empty
// and `answerOk`), every message kept.
struct ScriptedDialog : ReportDialog {
  std::vector<std::string> messages;
  std::deque<bool> answers;
  bool answerOk = true;
  void ShowMessage(const std::string& text, const std::string&) override {
    messages.push_back(text);
  }
  bool Confirm(const std::string&, const std::string&) override {
    if (answers.empty()) return answerOk;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace kasse
