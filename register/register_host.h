#pragma once
// What a front-end does for the register: answers its questions, shows its messages, runs the
// transport-PIN step, hears of a card error, lends the debug console's hold, keeps its window
// alive while the card works and shows the register again after a change. Every call has a
// default, so a front-end without windows (batch, tests) overrides nothing: every question is
// answered OK and commands pass the debug hold untouched.

#include <string>

#include "protocol/card_link.h"

namespace kasse {

class RegisterHost {
 public:
  virtual ~RegisterHost() = default;

  // OK (true) or Cancel.
  virtual bool Confirm(const std::string& text, const std::string& caption) {
    (void)text;
    (void)caption;
    return true;
  }
  virtual void ShowMessage(const std::string& text, const std::string& caption) {
    (void)text;
    (void)caption;
  }
  // The transport-PIN window, modal, for a personalised card; it runs the activation itself.
  virtual void RequestTransportPin() {}
  // The card failed or went (Card().Failure() says why); may come from inside a card event.
  virtual void CardFailed() {}
  // The debug console that holds TRANSACTION and VERIFY SIGNATURE commands; asked at each
  // command, so a console that is gone is never used. Nothing: commands pass through.
  virtual DebugHold* CommandHold() { return nullptr; }
  // Runs every few milliseconds while a card command waits for its answer.
  virtual void WhileCardWorks() {}
  // The sale, the card or the clock changed: the window shows the register again.
  virtual void Changed() {}
};

}  // namespace kasse
