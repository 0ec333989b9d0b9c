#pragma once
// The verification web server: HTTP/1.1 on non-blocking sockets, one epoll loop per event
// thread (one per core by default), each answering its requests itself (a check takes a
// fraction of a millisecond). No client can hold it: a request head must arrive whole within
// the head limit, an idle keep-alive connection ends after the idle limit, an answer must be
// taken within the write limit, and above the connection bound the longest-waiting connection
// without a request is closed to make room. Loopback unless told otherwise.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "common/result.h"

namespace kasse {

class CertificateIndex;

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (tests)
  int threads = 0;  // event threads; 0: one per core
  std::size_t maxConnections = 256;
  std::size_t maxHead = 8192;  // bytes of a request head
  std::chrono::milliseconds headLimit{2000}, idleLimit{5000}, writeLimit{5000};
};

class VerifyServer {
 public:
  // `index` must outlive the server; it is refreshed as requests come.
  VerifyServer(ServeOptions options, CertificateIndex& index);
  ~VerifyServer();
  VerifyServer(const VerifyServer&) = delete;
  VerifyServer& operator=(const VerifyServer&) = delete;

  // Binds; the port taken (the chosen one or a free one).
  Result<int> Bind();
  // Serves until Stop (from another thread or a signal handler's thread).
  void Run();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "127.0.0.1:8080" or "8080" into host and port.
Result<void> ParseListen(std::string_view text, ServeOptions& options);

}  // namespace kasse
