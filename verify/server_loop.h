#pragma once
// One event thread of the verification server: an epoll set over the shared listening socket
// and the connections this thread accepted. Internal to verify_server.cpp.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

#include "verify/http_connection.h"
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
    Connection(int socket, std::size_t maxHead, HttpConnection::Answerer answer)
        : fd(socket), http(maxHead, std::move(answer)) {}
    int fd;
    HttpConnection http;
    bool heardFrom = false;      // a byte of the current request has arrived
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
