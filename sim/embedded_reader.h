#pragma once
// An in-process card reader holding the simulated QOR card, for the `--card sim` backend.
// Thread-safe: Transmit, InsertCard and RemoveCard may come from any thread while another
// blocks in WaitForChange, as a PC/SC watcher thread does.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "common/bytes.h"
#include "common/result.h"
#include "sim/qor_engine.h"

namespace kasse::sim {

class EmbeddedReader {
 public:
  // The card starts inserted.
  explicit EmbeddedReader(EngineOptions options);
  // Waiters must have returned (Cancel() first) before the reader goes.
  ~EmbeddedReader();

  Bytes Atr() const;
  bool CardPresent() const;
  // Why the card could not start (its files could not be locked, read or created), if so.
  std::optional<Error> StartError() const;
  // Each raises a state change (the counter grows) when presence actually changes; inserting
  // powers the card up afresh.
  void InsertCard();
  void RemoveCard();
  // A warm reset of the present card (a disconnect with reset): no state change is raised.
  void ResetCard();
  // Error (kCard) when no card is present.
  Result<Bytes> Transmit(ByteSpan command);
  // Blocks until the presence changed after `seenCounter`, or timeout, or Cancel();
  // returns the current change counter.
  std::uint64_t WaitForChange(std::uint64_t seenCounter, std::chrono::milliseconds timeout);
  // Wakes every WaitForChange now blocking.
  void Cancel();
  std::uint64_t ChangeCounter() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<QorEngine> engine_;
  bool present_ = true;
  std::uint64_t counter_ = 0;
  std::uint64_t cancelGeneration_ = 0;
};

}  // namespace kasse::sim
