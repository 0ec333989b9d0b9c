#include "card/watcher_queue.h"

namespace kasse {

void WatcherQueue::SetWakeHandler(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

void WatcherQueue::Post(const WatcherMessage& message) {
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
    wake = wake_;
  }
  posted_.notify_all();
  if (wake) wake();
}

std::deque<WatcherMessage> WatcherQueue::TakeAll() {
  std::lock_guard lock(mutex_);
  std::deque<WatcherMessage> taken;
  taken.swap(messages_);
  return taken;
}

bool WatcherQueue::WaitForMessage(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return posted_.wait_for(lock, timeout, [this] { return !messages_.empty(); });
}

}  // namespace kasse
