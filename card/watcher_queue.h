#pragma once
// What the reader watcher posts to the connector's owner: the watcher never raises events
// itself. The owner drains the queue on its own thread (the controller's loop); tests and the
// batch front-end block on WaitForMessage instead of a window loop.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "card/pcsc_api.h"

namespace kasse {

struct WatcherMessage {
  PcscCode code = pcsc::kSuccess;  // return code of the status wait
  std::uint32_t eventState = 0;    // reader state after the wait
  std::uint64_t generation = 0;    // which Open started the watcher that posted it
};

class WatcherQueue {
 public:
  // Called on the watcher thread after each post, so that an event loop can be woken (for Qt a
  // queued call to the connector's ProcessPendingEvents).
  void SetWakeHandler(std::function<void()> wake);

  void Post(const WatcherMessage& message);
  std::deque<WatcherMessage> TakeAll();
  // True as soon as a message is waiting; false when the timeout passed without one.
  bool WaitForMessage(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<WatcherMessage> messages_;
  std::function<void()> wake_;
};

}  // namespace kasse
