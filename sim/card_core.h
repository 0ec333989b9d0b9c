#pragma once
// The card behind QorEngine: its kept state, what a power cycle forgets, and one handler per
// command. Handlers that change the kept state call Commit() before they answer.

#include <optional>

#include "common/bytes.h"
#include "common/result.h"
#include "sim/apdu.h"
#include "sim/card_state.h"
#include "sim/qor_engine.h"

namespace kasse::sim {

// Forgotten at every power cycle.
struct Session {
  bool applicationSelected = false;
  bool certificateSelected = false;
  Bytes hashData;  // chained blocks of the running hash
};

class CardCore {
 public:
  CardCore(EngineOptions options, CardState state);

  Bytes Select(const Apdu& apdu);
  Bytes ReadBinary(const Apdu& apdu) const;
  Bytes GetData(const Apdu& apdu) const;
  Bytes Hash(const Apdu& apdu);
  Bytes Transaction(const Apdu& apdu);
  Bytes VerifySignature(const Apdu& apdu) const;
  Bytes Report(const Apdu& apdu);

  void PowerCycle() { session_ = Session{}; }
  bool ApplicationSelected() const { return session_.applicationSelected; }
  const CardState& State() const { return state_; }

 private:
  // Writes the state file; the answer must not leave the card when this fails.
  Result<void> Commit() const;
  Result<Bytes> Sign(ByteSpan message) const;
  // C4 tpId, C5 tpIdNo: how the card names itself in answers and signed data.
  void AppendIdentity(Bytes& out) const;
  void AppendDayBooks(Bytes& out) const;
  Bytes ActivationReport(ByteSpan request, ByteSpan pin);

  EngineOptions options_;
  CardState state_;
  Session session_;
};

// Months as yyyymm: how many months `later` lies after `first`.
int MonthsBetween(int first, int later);
// yyyymm of the local date today: a card activated now keeps it as its first month.
int CurrentMonth();
// Three packed bytes yyyy mm; 00 00 00 for month 0.
Bytes PackMonth(int month);
// yyyymmdd or yyyymm from packed digits; nothing for a value that is not a valid date.
std::optional<int> UnpackDate(ByteSpan value);
std::optional<int> UnpackMonth(ByteSpan value);
// hhmm from two packed bytes.
std::optional<int> UnpackTime(ByteSpan value);

}  // namespace kasse::sim
