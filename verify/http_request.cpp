#include "verify/http_request.h"

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>

#include <algorithm>

namespace kasse {

namespace http = boost::beast::http;
using Message = http::request<http::empty_body>;

struct RequestHeadReader::Parser {
  explicit Parser(std::size_t maxHead) {
    // Beast is never given bytes past the limit; its own limit is the same backstop. The
    // service takes no body: one announced ends the head with body_limit, and the body itself
    // is never read (eager off: the parser stops behind the head).
    beast.header_limit(static_cast<std::uint32_t>(std::min<std::size_t>(maxHead + 1, 1u << 30)));
    beast.body_limit(0);
    beast.eager(false);
  }
  http::request_parser<http::empty_body> beast;
};

namespace {

constexpr std::size_t npos = std::string_view::npos;

Error BadRequest(std::string what) {
  return MakeError(ErrorKind::kMalformed, std::move(what));
}

Error TooLong() {
  return MakeError(ErrorKind::kTooLong, "the request head is too long");
}

std::string_view Text(boost::beast::string_view text) {
  return std::string_view(text.data(), text.size());
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}

// RFC 3986 host (reg-name, IPv4 or IP literal) with an optional port: letters, digits and the
// few marks these allow. No whitespace, no "/", no "@".
bool ValidHost(std::string_view host) {
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-._~%!$&'()*+,;=:[]").find(c) != npos;
  });
}

// RFC 9112 3.2.2: an origin server accepts the absolute form and serves its path and query.
Result<std::string> OriginForm(std::string_view target, std::string_view method) {
  if (target.starts_with('/')) return std::string(target);
  if (target == "*" && method == "OPTIONS") return std::string(target);
  for (std::string_view scheme : {"http://", "https://"}) {
    if (!StartsWithNoCase(target, scheme)) continue;
    const std::string_view rest = target.substr(scheme.size());
    const std::size_t pathAt = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, pathAt);
    // RFC 9110 4.2.4: user information in an http URL is an error.
    if (authority.empty() || authority.find('@') != npos || !ValidHost(authority))
      return BadRequest("the target's authority is not a host");
    if (pathAt == npos) return std::string("/");
    return (rest[pathAt] == '?' ? "/" : "") + std::string(rest.substr(pathAt));
  }
  return BadRequest("the request target is neither a path nor an http URL");
}

// RFC 9112 3.2: one Host in HTTP/1.1, at most one in HTTP/1.0, and a valid one.
Result<void> CheckHost(const Message& message) {
  const std::size_t hosts = message.count(http::field::host);
  if (hosts > 1) return BadRequest("more than one Host header");
  if (hosts == 0) {
    if (message.version() == 11) return BadRequest("an HTTP/1.1 request without Host");
    return {};
  }
  if (!ValidHost(Text(message[http::field::host])))
    return BadRequest("the Host header is not a host");
  return {};
}

// Beast joins folded lines with spaces; RFC 9112 5.2 lets a server refuse them instead, and a
// proxy in front might have read them otherwise.
bool Folded(std::string_view head) {
  for (std::size_t at = head.find('\n'); at != npos && at + 1 < head.size();
       at = head.find('\n', at + 1)) {
    if (head[at + 1] == ' ' || head[at + 1] == '\t') return true;
  }
  return false;
}

// Repeated fields joined as RFC 9110 5.3 says, with commas.
std::string Joined(const Message& message, http::field name) {
  std::string joined;
  for (auto [it, end] = message.equal_range(name); it != end; ++it) {
    if (!joined.empty()) joined += ", ";
    joined += Text(it->value());
  }
  return joined;
}

Error BeastError(const boost::beast::error_code& error) {
  if (error == http::error::header_limit) return TooLong();
  if (error == http::error::bad_field)
    return BadRequest("a header line is not NAME: VALUE (nothing may stand before the colon)");
  if (error == http::error::bad_line_ending) return BadRequest("a line does not end in CR LF");
  if (error == http::error::bad_value)
    return BadRequest("a header value holds a control character");
  if (error == http::error::bad_content_length)
    return BadRequest("Content-Length is not one number, or given twice with other values");
  if (error == http::error::bad_transfer_encoding)
    return BadRequest("Transfer-Encoding given twice or beside Content-Length");
  if (error == http::error::bad_method || error == http::error::bad_target ||
      error == http::error::bad_version) {
    return BadRequest("the request line is not METHOD TARGET HTTP/1.x");
  }
  return BadRequest("the request head is malformed (" + error.message() + ")");
}

// The request of a head Beast has read, with the rules it leaves to us.
Result<HttpRequest> RequestOf(const http::request_parser<http::empty_body>& parser,
                              std::string_view head, bool bodyAnnounced) {
  const Message& message = parser.get();
  if (message.version() != 10 && message.version() != 11)
    return BadRequest("not HTTP/1.0 or HTTP/1.1");
  if (Folded(head)) return BadRequest("a header line is folded onto the next");
  if (auto host = CheckHost(message); !host) return host.error();
  HttpRequest request;
  request.method = std::string(Text(message.method_string()));
  auto target = OriginForm(Text(message.target()), request.method);
  if (!target) return target.error();
  request.target = std::move(*target);
  request.http11 = message.version() == 11;
  request.keepAlive = message.keep_alive();
  // RFC 9112 6.1 and 6.3: a coding in HTTP/1.0, or one that does not end in chunked, leaves
  // the body's length unknown.
  if (message.count(http::field::transfer_encoding) > 0) {
    if (!request.http11) return BadRequest("Transfer-Encoding in an HTTP/1.0 request");
    if (!parser.chunked()) return BadRequest("a Transfer-Encoding that does not end in chunked");
  }
  request.hasBody = bodyAnnounced || parser.chunked();
  request.accept = Joined(message, http::field::accept);
  request.acceptLanguage = Joined(message, http::field::accept_language);
  return request;
}

}  // namespace

RequestHeadReader::RequestHeadReader(std::size_t maxHead)
    : maxHead_(maxHead), parser_(std::make_unique<Parser>(maxHead)) {}

RequestHeadReader::~RequestHeadReader() = default;

bool RequestHeadReader::Begun() const {
  return begun_;
}

Result<std::optional<RequestHead>> RequestHeadReader::Read(std::string_view pending) {
  // Never past the limit, so that a head's fate does not depend on how it was cut into reads.
  const std::string_view window = pending.substr(0, maxHead_ + 1);
  // RFC 9112 2.2: empty lines before a request line are ignored.
  while (skipped_ + 2 <= window.size() && window.substr(skipped_, 2) == "\r\n")
    skipped_ += 2;
  begun_ = pending.size() > skipped_;
  // The parser gets the head once it has ended, never a part: what it makes of a head then
  // does not depend on the reads it came in. Each byte is searched once.
  const std::size_t end = window.find("\r\n\r\n", std::max(skipped_, searched_));
  if (end == npos) {
    searched_ = window.size() >= 3 ? window.size() - 3 : 0;
    if (pending.size() > maxHead_) return Restart(TooLong());
    return std::optional<RequestHead>();
  }
  const std::size_t size = end + 4;
  if (size > maxHead_) return Restart(TooLong());
  const std::string_view head = window.substr(skipped_, size - skipped_);
  boost::beast::error_code error;
  const std::size_t used = parser_->beast.put(boost::asio::buffer(head.data(), head.size()), error);
  const bool bodyAnnounced = error == http::error::body_limit;
  if (error && !bodyAnnounced) return Restart(BeastError(error));
  // An announced body stops the parser behind the last field, before it calls the head done.
  if (!bodyAnnounced && (used != head.size() || !parser_->beast.is_header_done()))
    return Restart(BadRequest("the request head is malformed"));
  auto request = RequestOf(parser_->beast, head, bodyAnnounced);
  if (!request) return Restart(request.error());
  RequestHead read;
  read.request = std::move(*request);
  read.size = size;
  Restart(Error{});
  return std::optional<RequestHead>(std::move(read));
}

Error RequestHeadReader::Restart(Error error) {
  parser_ = std::make_unique<Parser>(maxHead_);
  skipped_ = searched_ = 0;
  begun_ = false;
  return error;
}

Result<HttpRequest> ParseRequestHead(std::string_view head, std::size_t maxHead) {
  RequestHeadReader reader(maxHead);
  auto read = reader.Read(head);
  if (!read) return read.error();
  if (!*read) return BadRequest("the request head has not ended");
  return std::move((*read)->request);
}

}  // namespace kasse
