#pragma once
// The verification web server: GET /verify.php?t1=... answered with the page of
// verify_page.h. Loopback unless told otherwise; t1 is bounded by the page's own limits.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (tests)
  std::string home;
  std::vector<Bytes> certificates;
};

class VerifyServer {
 public:
  explicit VerifyServer(ServeOptions options);
  ~VerifyServer();
  VerifyServer(const VerifyServer&) = delete;
  VerifyServer& operator=(const VerifyServer&) = delete;

  // Binds; the port taken (the chosen one or a free one).
  Result<int> Bind();
  // Serves until Stop (from another thread).
  void Run();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "127.0.0.1:8080" or "8080" into host and port.
Result<void> ParseListen(std::string_view text, ServeOptions& options);

}  // namespace kasse
