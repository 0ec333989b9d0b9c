#include "verify/server_loop.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "verify/verify_service.h"

namespace kasse {
namespace {

constexpr auto kSweepEvery = std::chrono::milliseconds(100);
constexpr std::size_t kAcceptsPerWake = 64;

}  // namespace

ServerLoop::ServerLoop(const ServeOptions& options, CertificateIndex& index, int listenFd,
                       int stopFd, std::size_t maxConnections)
    : options_(options),
      index_(index),
      listenFd_(listenFd),
      stopFd_(stopFd),
      maxConnections_(maxConnections) {}

ServerLoop::~ServerLoop() {
  for (const auto& [fd, connection] : connections_)
    ::close(fd);
  if (epollFd_ >= 0) ::close(epollFd_);
}

Result<void> ServerLoop::Open() {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) return MakeError(ErrorKind::kIo, std::string("epoll: ") + std::strerror(errno));
  // Exclusive: a new connection wakes one event thread, not all of them.
  epoll_event listen{};
  listen.events = EPOLLIN | EPOLLEXCLUSIVE;
  listen.data.fd = listenFd_;
  epoll_event stop{};
  stop.events = EPOLLIN;
  stop.data.fd = stopFd_;
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &listen) != 0 ||
      ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &stop) != 0) {
    return MakeError(ErrorKind::kIo, std::string("epoll: ") + std::strerror(errno));
  }
  return {};
}

void ServerLoop::Run() {
  std::array<epoll_event, 64> events{};
  Clock::time_point nextSweep = Clock::now() + kSweepEvery;
  for (;;) {
    const int count = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()),
                                   static_cast<int>(kSweepEvery.count()));
    if (count < 0 && errno != EINTR) return;
    for (int i = 0; i < count; ++i) {
      const int fd = events[static_cast<std::size_t>(i)].data.fd;
      const std::uint32_t what = events[static_cast<std::size_t>(i)].events;
      if (fd == stopFd_) return;
      if (fd == listenFd_) {
        Accept();
        continue;
      }
      auto it = connections_.find(fd);
      if (it == connections_.end()) continue;
      if (what & (EPOLLERR | EPOLLHUP)) {
        Close(fd);
      } else if (what & EPOLLOUT) {
        Connection& connection = *it->second;
        if (Writable(connection) == Sent::kWhole) ServeBuffered(connection);
      } else if (what & EPOLLIN) {
        Readable(*it->second);
      }
    }
    if (Clock::now() >= nextSweep) {
      Sweep();
      nextSweep = Clock::now() + kSweepEvery;
    }
  }
}

void ServerLoop::Watch(int fd, bool writing) {
  epoll_event event{};
  event.events = writing ? EPOLLOUT : EPOLLIN;
  event.data.fd = fd;
  ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &event);
}

void ServerLoop::Accept() {
  for (std::size_t n = 0; n < kAcceptsPerWake; ++n) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        // Out of descriptors: stop taking connections until the next sweep frees some.
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, listenFd_, nullptr);
        listening_ = false;
        Evict();
      }
      return;
    }
    if (connections_.size() >= maxConnections_) Evict();
    if (connections_.size() >= maxConnections_) {
      ::close(fd);  // every connection is busy answering: this one waits for nothing
      continue;
    }
    auto connection = std::make_unique<Connection>(
        fd, options_.maxHead,
        [this](const HttpRequest& request) { return AnswerRequest(request, index_); });
    connection->since = Clock::now();
    connection->deadline = connection->since + options_.headLimit;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) {
      ::close(fd);
      continue;
    }
    connections_.emplace(fd, std::move(connection));
  }
}

void ServerLoop::Evict() {
  // The connection that has waited longest for a request makes room; a request being answered
  // is never cut.
  Connection* oldest = nullptr;
  for (const auto& [fd, connection] : connections_) {
    if (!connection->http.WaitingForHead()) continue;
    if (oldest == nullptr || connection->since < oldest->since) oldest = connection.get();
  }
  if (oldest == nullptr) return;
  const std::string busy =
      SerializeResponse(ErrorAnswer(503, "too many connections; try again", false));
  [[maybe_unused]] const ssize_t written =
      ::send(oldest->fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  Close(oldest->fd);
}

void ServerLoop::Readable(Connection& connection) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
    if (got == 0) {
      // A half-close: what came before it is still answered.
      connection.http.PeerClosed();
      break;
    }
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      Close(connection.fd);
      return;
    }
    if (!connection.heardFrom) {
      connection.heardFrom = true;
      connection.deadline = std::min(connection.deadline, Clock::now() + options_.headLimit);
    }
    connection.http.Received(std::string_view(buffer, static_cast<std::size_t>(got)));
    if (connection.http.Full()) break;
  }
  ServeBuffered(connection);
}

void ServerLoop::ServeBuffered(Connection& connection) {
  // Pipelined requests one after the other, as long as each answer leaves at once.
  while (connection.http.AnswerNext()) {
    connection.deadline = Clock::now() + options_.writeLimit;
    if (Writable(connection) != Sent::kWhole) return;
  }
  if (connection.http.Done()) Close(connection.fd);
}

ServerLoop::Sent ServerLoop::Writable(Connection& connection) {
  HttpConnection& http = connection.http;
  while (!http.Unsent().empty()) {
    const std::string_view unsent = http.Unsent();
    const ssize_t put = ::send(connection.fd, unsent.data(), unsent.size(), MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!connection.watchingWrite) Watch(connection.fd, true);
      connection.watchingWrite = true;
      return Sent::kPending;
    }
    if (put <= 0) {
      Close(connection.fd);
      return Sent::kClosed;
    }
    http.Sent(static_cast<std::size_t>(put));
  }
  if (http.Done()) {
    Close(connection.fd);
    return Sent::kClosed;
  }
  // Keep-alive: the next request may take the idle limit to begin, then the head limit.
  connection.heardFrom = http.HeardFrom();
  connection.since = Clock::now();
  connection.deadline =
      connection.since + (connection.heardFrom ? options_.headLimit : options_.idleLimit);
  if (connection.watchingWrite) Watch(connection.fd, false);
  connection.watchingWrite = false;
  return Sent::kWhole;
}

void ServerLoop::Close(int fd) {
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
  connections_.erase(fd);
  if (!listening_) {
    epoll_event listen{};
    listen.events = EPOLLIN | EPOLLEXCLUSIVE;
    listen.data.fd = listenFd_;
    listening_ = ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &listen) == 0;
  }
}

void ServerLoop::Sweep() {
  const Clock::time_point now = Clock::now();
  std::vector<int> late;
  for (const auto& [fd, connection] : connections_)
    if (now >= connection->deadline) late.push_back(fd);
  for (int fd : late)
    Close(fd);
}

}  // namespace kasse
