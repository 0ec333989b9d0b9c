#include "sim/vpcd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace kasse::sim {
namespace {

enum class Wait { kReady, kStop, kTimeout };

Wait WaitReadable(int fd, int stopFd, std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
  const int count = fd >= 0 ? 2 : 1;
  for (;;) {
    const int ready = ::poll(fds, count, static_cast<int>(timeout.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[0].revents & POLLIN)) return Wait::kStop;
    if (ready == 0) return Wait::kTimeout;
    return Wait::kReady;
  }
}

void QuickAck(int fd) {
  // Linux clears TCP_QUICKACK by itself, so it is set again after every read.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

int Connect(const LinkOptions& options) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(options.port));
  if (::inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1 ||
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  QuickAck(fd);
  return fd;
}

// False when the connection ended or a stop was asked for (then `stop` is set).
bool ReadExact(int fd, int stopFd, Byte* out, std::size_t size, bool& stop) {
  std::size_t done = 0;
  while (done < size) {
    const Wait wait = WaitReadable(fd, stopFd, std::chrono::milliseconds(-1));
    if (wait == Wait::kStop) {
      stop = true;
      return false;
    }
    const ssize_t n = ::recv(fd, out + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
    QuickAck(fd);
  }
  return true;
}

bool WriteFrame(int fd, const Bytes& payload) {
  Bytes frame = {static_cast<Byte>(payload.size() >> 8), static_cast<Byte>(payload.size())};
  frame.insert(frame.end(), payload.begin(), payload.end());
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Answers frames until the connection ends; true when a stop was asked for.
bool Serve(VpcdCard& card, const LinkOptions& options, int fd, int stopFd) {
  bool stop = false;
  for (;;) {
    Byte header[2];
    if (!ReadExact(fd, stopFd, header, 2, stop)) return stop;
    Bytes frame((std::size_t{header[0]} << 8) | header[1]);
    if (!ReadExact(fd, stopFd, frame.data(), frame.size(), stop)) return stop;
    const FrameOutcome outcome = card.Handle(frame);
    const auto stall =
        (frame.size() > 1 ? options.stall : std::chrono::milliseconds{}) + outcome.stall;
    if (stall.count() > 0 && WaitReadable(-1, stopFd, stall) == Wait::kStop) {
      return true;
    }
    if (outcome.reply && !WriteFrame(fd, *outcome.reply)) return false;
    if (outcome.dropConnection) {
      std::cerr << "qor-sim: dropping the connection after command " << card.CommandCount() << '\n';
      return false;
    }
  }
}

}  // namespace

void RunVpcdLink(VpcdCard& card, const LinkOptions& options, int stopFd) {
  bool reported = false;
  for (;;) {
    const int fd = Connect(options);
    if (fd < 0) {
      if (!reported) {
        std::cerr << "qor-sim: waiting for vpcd on " << options.host << ':' << options.port << '\n';
        reported = true;
      }
      if (WaitReadable(-1, stopFd, options.retry) == Wait::kStop) return;
      continue;
    }
    std::cerr << "qor-sim: connected to vpcd on " << options.host << ':' << options.port << '\n';
    reported = false;
    const bool stop = Serve(card, options, fd, stopFd);
    ::close(fd);
    if (stop) return;
    if (WaitReadable(-1, stopFd, options.retry) == Wait::kStop) return;
  }
}

}  // namespace kasse::sim
