#pragma once
// Test doubles for the protocol's surroundings: a card that follows an APDU script and a
// receipt that records what it is given.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_text.h"
#include "protocol/card_link.h"

namespace kasse {

// An APDU script: each command the card is to receive, with the answer it gives.
struct ScriptedCard : CardLink {
  struct Step {
    std::string expectPrefix;  // compact hex the command must start with
    bool ok;
    std::string answer;  // the data; for a refusal its status word ("6985"), or "" for none
  };
  std::deque<Step> steps;
  std::vector<std::string> sent;
  std::string statusWord;
  std::function<void()> onSend;  // runs as each command arrives, before it is answered
  bool SendHex(std::string_view command, std::string& data) override {
    if (onSend) onSend();
    sent.emplace_back(command);
    data.clear();
    statusWord.clear();
    if (steps.empty()) return false;
    Step step = steps.front();
    steps.pop_front();
    EXPECT_EQ(StripBlanks(command).rfind(step.expectPrefix, 0), 0u) << command;
    if (step.ok) data = step.answer;
    statusWord = step.ok ? "9000" : step.answer;
    return step.ok;
  }
  std::string LastStatusWord() const override { return statusWord; }
  // The next command goes unanswered; `late` then holds where its answer would go.
  bool stallNext = false;
  LateAnswer late;
  CardReply SendKeepingLateAnswer(std::string_view command, std::string& data,
                                  LateAnswer lateAnswer) override {
    if (!stallNext) return SendHex(command, data) ? CardReply::kAnswered : CardReply::kFailed;
    stallNext = false;
    sent.emplace_back(command);
    data.clear();
    late = std::move(lateAnswer);
    return CardReply::kUnanswered;
  }
  void MonitorLabel(std::string_view, std::uint32_t) override {}
};

template <typename Base = ReceiptSink>
struct RecordingReceiptT : Base {
  std::optional<std::uint32_t> colour;
  Bytes qr;
  Bytes signature;
  void SetReceiptColour(std::uint32_t c) override { colour = c; }
  void AppendSignatureText(ByteSpan s, bool) override { signature.assign(s.begin(), s.end()); }
  void QRAppend(ByteSpan b) override { qr.insert(qr.end(), b.begin(), b.end()); }
  void QRReset() override { qr.clear(); }
};
using RecordingReceipt = RecordingReceiptT<>;

}  // namespace kasse
