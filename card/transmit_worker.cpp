#include "card/transmit_worker.h"

namespace kasse {

TransmitWorker::~TransmitWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TransmitWorker::Start(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (running_ || result_) return false;
    job_ = std::move(job);
    running_ = true;
    abandoned_ = false;
  }
  // One thread serves every transmit: a new thread per command would cost more than a fast
  // card's answer.
  if (!thread_.joinable()) thread_ = std::thread(&TransmitWorker::Run, this);
  changed_.notify_all();
  return true;
}

void TransmitWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || job_.has_value(); });
    if (!job_) return;
    Job job = std::move(*job_);
    job_.reset();
    lock.unlock();
    TransmitResult result = job();
    lock.lock();
    result_ = std::move(result);
    running_ = false;
    changed_.notify_all();
  }
}

std::optional<TransmitResult> TransmitWorker::WaitUntil(Clock::time_point deadline,
                                                        const std::function<void()>& pump) {
  std::unique_lock lock(mutex_);
  for (;;) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point until = pump ? std::min(deadline, now + kPumpSlice) : deadline;
    changed_.wait_until(lock, until, [this] { return !running_; });
    if (!running_) break;
    if (Clock::now() >= deadline) {
      abandoned_ = true;
      return std::nullopt;
    }
    lock.unlock();
    pump();
    lock.lock();
  }
  std::optional<TransmitResult> result = std::move(result_);
  result_.reset();
  return result;
}

bool TransmitWorker::Busy() {
  std::lock_guard lock(mutex_);
  return running_ || result_.has_value();
}

std::optional<TransmitResult> TransmitWorker::TakeLate() {
  std::lock_guard lock(mutex_);
  if (!abandoned_ || running_ || !result_) return std::nullopt;
  std::optional<TransmitResult> result = std::move(result_);
  result_.reset();
  abandoned_ = false;
  return result;
}

std::optional<TransmitResult> TransmitWorker::WaitForLate(std::chrono::milliseconds limit) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return !running_; });
  }
  return TakeLate();
}

}  // namespace kasse
