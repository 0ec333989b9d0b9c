#pragma once
// The card behind QorEngine: its kept state, what a power cycle forgets, and one handler per
// command. A handler that changes the kept state computes the new books, signs, and only then
// commits them; the books are adopted only when the commit succeeded.

#include <memory>
#include <optional>

#include "common/bytes.h"
#include "common/result.h"
#include "sim/apdu.h"
#include "sim/card_signer.h"
#include "sim/card_state.h"
#include "sim/card_store.h"
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
  // `store` null: the card lives in memory only.
  CardCore(EngineOptions options, LoadedCard card, CardSigner signer,
           std::unique_ptr<CardStore> store);
  // A clean shutdown writes a snapshot, so the next start replays nothing.
  ~CardCore();
  CardCore(const CardCore&) = delete;
  CardCore& operator=(const CardCore&) = delete;

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
  const CardKeys& Keys() const { return keys_; }

 private:
  // Makes `next` durable, then adopts it. On failure the card is as before and must answer
  // 65 81: no signature made for `next` may leave it.
  Result<void> Commit(CardState next);
  Result<Bytes> Sign(ByteSpan message) const;
  // C4 tpId, C5 tpIdNo: how the card names itself in answers and signed data.
  void AppendIdentity(Bytes& out) const;
  void AppendDayBooks(Bytes& out) const;
  Bytes BookedMonths() const;
  Bytes ActivationReport(ByteSpan request, ByteSpan pin);

  EngineOptions options_;
  CardState state_;
  CardKeys keys_;
  CardSigner signer_;
  std::unique_ptr<CardStore> store_;
  Session session_;
};

// Months as yyyymm: how many months `later` lies after `first`.
int MonthsBetween(int first, int later);
// yyyymm of the local date today: a card activated now keeps it as its first month.
int CurrentMonth();
// Three packed bytes yyyy mm; 00 00 00 for month 0.
Bytes PackMonth(int month);
// yyyymmdd or yyyymm from packed digits; an error for a value that is not a valid date, at
// the byte that is not two digits (or 0 for a wrong length or a date out of range).
Result<int> UnpackDate(ByteSpan value);
Result<int> UnpackMonth(ByteSpan value);
// hhmm from two packed bytes.
Result<int> UnpackTime(ByteSpan value);

}  // namespace kasse::sim
