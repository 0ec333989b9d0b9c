#pragma once
// Worker threads for the audit's signature checks: jobs run in any order on any thread, the
// caller waits for each job's future in the order it needs the results.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace kasse {

class CheckPool {
 public:
  // 0 or 1 thread: every job runs at once on the caller's thread.
  explicit CheckPool(unsigned threads);
  ~CheckPool();
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;

  std::future<void> Run(std::function<void()> job);
  unsigned Threads() const { return static_cast<unsigned>(workers_.size()); }

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kasse
