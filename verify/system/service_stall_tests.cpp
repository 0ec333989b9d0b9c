// The verification service under clients that hold connections: slow heads, idle sockets and
// more sockets than the connection bound. A normal check must still be answered within a
// second, and the holders must be closed by the head deadline. Loopback only; every wait is a
// poll with a deadline.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "verify/tests/journal_fixture.h"
#include "verify/tests/loopback_client.h"
#include "verify/tests/running_server.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackSocket;
using testing::T1;

constexpr auto kAnswerWithin = 1000ms;
constexpr auto kHeadLimit = 2000ms;
constexpr auto kSlack = 700ms;  // the server looks at its deadlines every 100 ms

class ServiceStall : public ::testing::Test {
 protected:
  ServiceStall() : t1_(T1(maker_.Sale(300))), server_(Sources(), ServeOptions{}) {}

  CertificateSources Sources() const {
    CertificateSources sources;
    sources.cards = {maker_.Certificate()};
    sources.trusted = {maker_.Issuer()};
    return sources;
  }
  // A check on a fresh connection, answered valid within the limit.
  void ExpectPromptCheck() {
    LoopbackSocket socket(server_.Port());
    ASSERT_TRUE(socket.Connected());
    ASSERT_TRUE(socket.Send("GET /verify.php?t1=" + t1_ +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/json\r\n\r\n"));
    const auto answer = socket.Answer(kAnswerWithin);
    ASSERT_TRUE(answer) << "no answer within " << kAnswerWithin.count() << " ms";
    EXPECT_NE(answer->find("\"verdict\":\"valid\""), std::string::npos) << *answer;
  }
  std::vector<std::unique_ptr<LoopbackSocket>> Open(std::size_t count) {
    std::vector<std::unique_ptr<LoopbackSocket>> sockets;
    for (std::size_t i = 0; i < count; ++i) {
      sockets.push_back(std::make_unique<LoopbackSocket>(server_.Port()));
      EXPECT_TRUE(sockets.back()->Connected());
    }
    return sockets;
  }
  static void ExpectAllClosedBy(std::vector<std::unique_ptr<LoopbackSocket>>& sockets,
                                std::chrono::steady_clock::time_point deadline) {
    std::size_t open = 0;
    for (auto& socket : sockets) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (!socket->ClosedWithin(std::max(left, 1ms))) ++open;
    }
    EXPECT_EQ(open, 0u) << "connections still open after the head deadline";
  }

  testing::JournalMaker maker_;
  std::string t1_;
  testing::RunningServer server_;
};

TEST_F(ServiceStall, SlowClientsSendingOneByteAtATimeStallNothing) {
  ASSERT_NE(server_.Port(), 0);
  auto slow = Open(64);
  const auto start = std::chrono::steady_clock::now();
  const std::string head = "GET /verify.php?t1=" + t1_ + " HTTP/1.1\r\n";
  std::mutex mutex;
  std::condition_variable stop;
  bool stopping = false;
  // Each slow client sends the next byte of its head every 300 ms, never finishing in time.
  std::thread trickle([&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (std::size_t next = 0; next < head.size(); ++next) {
      for (auto& socket : slow)
        socket->Send(head.substr(next, 1));
      if (stop.wait_for(lock, 300ms, [&] { return stopping; })) return;
    }
  });
  for (int i = 0; i < 3; ++i)
    ExpectPromptCheck();
  ExpectAllClosedBy(slow, start + kHeadLimit + kSlack);
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  stop.notify_one();
  trickle.join();
  ExpectPromptCheck();
}

TEST_F(ServiceStall, IdleSocketsStallNothingAndAreClosedByTheHeadDeadline) {
  ASSERT_NE(server_.Port(), 0);
  auto idle = Open(64);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i)
    ExpectPromptCheck();
  ExpectAllClosedBy(idle, start + kHeadLimit + kSlack);
}

TEST_F(ServiceStall, MoreSocketsThanTheBoundStallNothing) {
  ASSERT_NE(server_.Port(), 0);
  constexpr std::size_t kSockets = 512;  // twice the default connection bound
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 2 * kSockets + 128) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 2 * kSockets + 128);
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (files.rlim_cur < 2 * kSockets + 128) GTEST_SKIP() << "too few file descriptors allowed";
  auto idle = Open(kSockets);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i)
    ExpectPromptCheck();
  ExpectAllClosedBy(idle, start + kHeadLimit + kSlack);
  ExpectPromptCheck();
}

}  // namespace
}  // namespace kasse
