#pragma once
// A verification server on a free loopback port, serving from its own thread until the end of
// the test.

#include <thread>

#include "verify/certificate_index.h"
#include "verify/verify_server.h"

namespace kasse::testing {

class RunningServer {
 public:
  RunningServer(CertificateSources sources, ServeOptions options)
      : index_(std::move(sources)), server_(Port0(std::move(options)), index_) {
    auto port = server_.Bind();
    port_ = port ? *port : 0;
    if (port_ != 0) thread_ = std::thread([this] { server_.Run(); });
  }
  ~RunningServer() {
    server_.Stop();
    if (thread_.joinable()) thread_.join();
  }
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;

  int Port() const { return port_; }

 private:
  static ServeOptions Port0(ServeOptions options) {
    options.port = 0;
    return options;
  }
  CertificateIndex index_;
  VerifyServer server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace kasse::testing
