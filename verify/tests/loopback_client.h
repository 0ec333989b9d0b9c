#pragma once
// A blocking HTTP client on loopback for the server's tests: raw bytes out, one answer in,
// every wait bounded by poll with a timeout.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

namespace kasse::testing {

class LoopbackSocket {
 public:
  explicit LoopbackSocket(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LoopbackSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
  }

  // One whole answer (head and Content-Length body), or nothing when the wait runs out or the
  // server closes first.
  std::optional<std::string> Answer(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (auto whole = TakeAnswer()) return whole;
      if (!Receive(end)) return std::nullopt;
    }
  }

  // True when the server closed the connection before `limit` (bytes it sent are dropped).
  bool ClosedWithin(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Receive(end)) {
    }
    return closed_;
  }

  // True when the server closed the connection before `limit` without sending anything more
  // than the answers already taken.
  bool ClosedWithNothingMore(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const std::size_t before = buffer_.size();
    return ClosedWithin(limit) && buffer_.size() == before;
  }

  // Ends the sending direction (shutdown SHUT_WR): the server reads the end, answers still come.
  bool HalfClose() { return fd_ >= 0 && ::shutdown(fd_, SHUT_WR) == 0; }

 private:
  // Waits for bytes until `end`; false on close, error or time out.
  bool Receive(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fd_ < 0) return false;
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[8192];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  std::optional<std::string> TakeAnswer() {
    const std::size_t headEnd = buffer_.find("\r\n\r\n");
    if (headEnd == std::string::npos) return std::nullopt;
    std::size_t length = 0;
    const std::size_t field = buffer_.find("Content-Length: ");
    if (field != std::string::npos && field < headEnd)
      length = std::stoul(buffer_.substr(field + 16));
    const bool head = buffer_.compare(0, 5, "HTTP/") == 0 && lastWasHead_;
    const std::size_t total = headEnd + 4 + (head ? 0 : length);
    if (buffer_.size() < total) return std::nullopt;
    std::string answer = buffer_.substr(0, total);
    buffer_.erase(0, total);
    return answer;
  }

 public:
  // The next answer belongs to a HEAD request: it has no body whatever its Content-Length.
  void ExpectHeadOnly(bool headOnly) { lastWasHead_ = headOnly; }

 private:
  int fd_ = -1;
  bool closed_ = false;
  bool lastWasHead_ = false;
  std::string buffer_;
};

inline int StatusOf(const std::string& answer) {
  return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0;
}

}  // namespace kasse::testing
