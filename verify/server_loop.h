#pragma once
// One event thread of the verification server: an epoll set over the shared listening socket
// and the connections this thread accepted. Internal to verify_server.cpp.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

#include "verify/verify_server.h"

namespace kasse {

class ServerLoop {
 public:
  // `listenFd` and `stopFd` stay owned by the caller; a readable stopFd ends Run.
  ServerLoop(const ServeOptions& options, CertificateIndex& index, int listenFd, int stopFd,
             std::size_t maxConnections);
  ~ServerLoop();
  ServerLoop(const ServerLoop&) = delete;
  ServerLoop& operator=(const ServerLoop&) = delete;

  Result<void> Open();
  void Run();

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd = -1;
    std::string in, out;
    std::size_t searched = 0;  // bytes of `in` already searched for the end of a head
    std::size_t sent = 0;
    bool waitingForHead = true;  // false: writing an answer
    bool heardFrom = false;      // a byte of the current request has arrived
    bool closeAfterWrite = false;
    bool watchingWrite = false;  // epoll waits for room to write, not for bytes to read
    Clock::time_point deadline, since;
  };

  void Accept();
  void Evict();
  void Readable(Connection& connection);
  // kWhole: the answer is out and the connection waits for the next request.
  enum class Sent { kWhole, kPending, kClosed };
  Sent Writable(Connection& connection);
  void ServeBuffered(Connection& connection);
  Sent Send(Connection& connection, std::string bytes, bool close);
  void Close(int fd);
  void Sweep();
  void Watch(int fd, bool writing);

  const ServeOptions& options_;
  CertificateIndex& index_;
  int listenFd_, stopFd_, epollFd_ = -1;
  std::size_t maxConnections_;
  bool listening_ = true;
  std::unordered_map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace kasse
