#pragma once
// One card transmit at a time on a thread of its own, so that the owner can stop waiting for a
// card that stopped answering. A transmit cannot be cancelled: it runs to its end, and what it
// brings back is kept as a late answer until the owner takes it.
// Thread use: every member is called on the owner's thread; only the job runs on the worker.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "card/pcsc_api.h"
#include "common/bytes.h"

namespace kasse {

struct TransmitResult {
  PcscCode code = pcsc::kSuccess;
  Bytes response;
};

class TransmitWorker {
 public:
  using Clock = std::chrono::steady_clock;
  using Job = std::function<TransmitResult()>;
  // How often a waiting owner runs its pump.
  static constexpr std::chrono::milliseconds kPumpSlice{10};

  TransmitWorker() = default;
  // Waits for a job in progress: it may use handles its owner is about to release.
  ~TransmitWorker();
  TransmitWorker(const TransmitWorker&) = delete;
  TransmitWorker& operator=(const TransmitWorker&) = delete;

  // False, and nothing runs, while an earlier job runs or its late answer is not taken.
  bool Start(Job job);
  // Waits for the job until `deadline`, running `pump` (when given) between short waits.
  // Nothing when the deadline passed first: the job goes on, its result becomes a late answer.
  std::optional<TransmitResult> WaitUntil(Clock::time_point deadline,
                                          const std::function<void()>& pump);
  bool Busy();
  // The result of a job the owner stopped waiting for, once it is there; taken once.
  std::optional<TransmitResult> TakeLate();
  // Blocks up to `limit` for that result.
  std::optional<TransmitResult> WaitForLate(std::chrono::milliseconds limit);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Job> job_;
  std::optional<TransmitResult> result_;
  bool running_ = false;
  bool abandoned_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kasse
