#include "verify/verify_server.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "common/amount.h"
#include "verify/server_loop.h"

namespace kasse {

struct VerifyServer::Impl {
  ServeOptions options;
  CertificateIndex& index;
  int listenFd = -1;
  int stopFd = -1;
};

VerifyServer::VerifyServer(ServeOptions options, CertificateIndex& index)
    : impl_(new Impl{std::move(options), index}) {
  impl_->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

VerifyServer::~VerifyServer() {
  if (impl_->listenFd >= 0) ::close(impl_->listenFd);
  if (impl_->stopFd >= 0) ::close(impl_->stopFd);
}

Result<int> VerifyServer::Bind() {
  const ServeOptions& o = impl_->options;
  const std::string where = o.host + ":" + std::to_string(o.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int error =
          ::getaddrinfo(o.host.c_str(), std::to_string(o.port).c_str(), &hints, &found);
      error != 0) {
    return MakeError(ErrorKind::kIo, "cannot listen on " + where + ": " + ::gai_strerror(error));
  }
  std::string why = "no address";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
      impl_->listenFd = fd;
      break;
    }
    why = std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (impl_->listenFd < 0)
    return MakeError(ErrorKind::kIo, "cannot listen on " + where + ": " + why);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
  const auto* port = bound.ss_family == AF_INET6
                         ? &reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                         : &reinterpret_cast<sockaddr_in*>(&bound)->sin_port;
  return static_cast<int>(ntohs(*port));
}

void VerifyServer::Run() {
  const ServeOptions& o = impl_->options;
  const int threads = o.threads > 0
                          ? o.threads
                          : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
  const std::size_t share =
      std::max<std::size_t>(1, o.maxConnections / static_cast<std::size_t>(threads));
  std::vector<std::unique_ptr<ServerLoop>> loops;
  for (int i = 0; i < threads; ++i) {
    auto loop =
        std::make_unique<ServerLoop>(o, impl_->index, impl_->listenFd, impl_->stopFd, share);
    if (loop->Open()) loops.push_back(std::move(loop));
  }
  std::vector<std::thread> others;
  for (std::size_t i = 1; i < loops.size(); ++i)
    others.emplace_back([&loop = *loops[i]] { loop.Run(); });
  if (!loops.empty()) loops.front()->Run();
  for (std::thread& thread : others)
    thread.join();
}

void VerifyServer::Stop() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(impl_->stopFd, &one, sizeof one);
}

Result<void> ParseListen(std::string_view text, ServeOptions& options) {
  std::string_view portText = text;
  if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    options.host = std::string(text.substr(0, colon));
    portText = text.substr(colon + 1);
  }
  if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']')
    options.host = options.host.substr(1, options.host.size() - 2);
  const Result<std::int64_t> port = ParseInteger(portText);
  if (!port || *port < 0 || *port > 65535 || options.host.empty()) {
    return MakeError(ErrorKind::kUnusableInput, "--listen wants HOST:PORT");
  }
  options.port = static_cast<int>(*port);
  return {};
}

}  // namespace kasse
