#include "verify/verify_server.h"

#include <httplib.h>

#include "common/amount.h"
#include "verify/verify_page.h"

namespace kasse {

struct VerifyServer::Impl {
  ServeOptions options;
  httplib::Server server;
};

namespace {

void Answer(const ServeOptions& options, const httplib::Request& request,
            httplib::Response& response) {
  // The raw target: the query splitter would cut t1 at its Base64 padding "=".
  const std::string t1 = request.has_param("t1") ? request.target : std::string();
  const ReceiptVerdict verdict = VerifyWithCertificates(t1, options.certificates, options.home);
  response.set_header("Cache-Control", "no-store");
  if (request.get_header_value("Accept").find("application/json") != std::string::npos) {
    response.set_content(VerdictJson(verdict), "application/json");
  } else {
    const PageLanguage language = LanguageOfHeader(request.get_header_value("Accept-Language"));
    response.set_content(VerdictHtml(verdict, language), "text/html; charset=utf-8");
  }
}

}  // namespace

VerifyServer::VerifyServer(ServeOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->server.set_payload_max_length(4096);
  impl_->server.set_read_timeout(5, 0);
  impl_->server.set_write_timeout(5, 0);
  const ServeOptions& kept = impl_->options;
  impl_->server.Get("/verify.php",
                    [&kept](const httplib::Request& request, httplib::Response& response) {
                      Answer(kept, request, response);
                    });
}

VerifyServer::~VerifyServer() {
  Stop();
}

Result<int> VerifyServer::Bind() {
  const ServeOptions& o = impl_->options;
  if (o.port == 0) {
    const int port = impl_->server.bind_to_any_port(o.host);
    if (port > 0) return port;
  } else if (impl_->server.bind_to_port(o.host, o.port)) {
    return o.port;
  }
  return MakeError(ErrorKind::kIo, "cannot listen on " + o.host + ":" + std::to_string(o.port));
}

void VerifyServer::Run() {
  impl_->server.listen_after_bind();
}

void VerifyServer::Stop() {
  impl_->server.stop();
}

Result<void> ParseListen(std::string_view text, ServeOptions& options) {
  std::string_view portText = text;
  if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    options.host = std::string(text.substr(0, colon));
    portText = text.substr(colon + 1);
  }
  std::int64_t port = 0;
  if (!ParseInteger(portText, port) || port < 0 || port > 65535 || options.host.empty()) {
    return MakeError(ErrorKind::kUnusableInput, "--listen wants HOST:PORT");
  }
  options.port = static_cast<int>(port);
  return {};
}

}  // namespace kasse
