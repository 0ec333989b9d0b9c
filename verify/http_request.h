#pragma once
// The head of an HTTP/1.1 request, as far as the verification service reads it: request line,
// the headers it uses and whether a body or the end of the connection is announced.
//
// Heads are read by Boost.Beast's request parser (RFC 9112 syntax: no whitespace between a
// field name and its colon, no bare CR, no control characters in values, one framing), plus
// the rules it leaves to us: exactly one valid Host in HTTP/1.1 (at most one in HTTP/1.0), no
// obsolete line folding, a Transfer-Encoding only in HTTP/1.1 and ending in chunked, and the
// target in origin form or absolute form (then served by its path). Anything else is a bad
// request, and the connection ends after its answer. Bounded and linear: a head longer than
// the limit is refused, and each byte is searched once for the head's end and then parsed
// once, however the head arrives; the parser sees only whole heads, so what it makes of one
// never depends on the reads it came in.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

struct HttpRequest {
  std::string method;
  std::string target;  // origin form: "/path?query" (an absolute-form target is cut to it)
  bool http11 = true;
  bool keepAlive = true;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only when asked
  bool hasBody = false;   // Content-Length above 0 or a chunked body
  std::string accept, acceptLanguage;
};

// One head read whole: the request and the bytes it took (empty lines before it included).
struct RequestHead {
  HttpRequest request;
  std::size_t size = 0;
};

// Reads the heads of one connection, one request after the other.
class RequestHeadReader {
 public:
  explicit RequestHeadReader(std::size_t maxHead);
  ~RequestHeadReader();
  RequestHeadReader(const RequestHeadReader&) = delete;
  RequestHeadReader& operator=(const RequestHeadReader&) = delete;

  // `pending`: every byte buffered from the start of the next request on; on the next call the
  // same bytes and whatever came since. Nothing yet: the head has not ended. An error of kind
  // kTooLong: the head is longer than maxHead (431); any other error: a bad request (400).
  // After a head or an error the reader starts afresh with the next request.
  Result<std::optional<RequestHead>> Read(std::string_view pending);

  // A byte of the next request has come (empty lines before a request do not count).
  bool Begun() const;

 private:
  struct Parser;
  // A fresh parser for the next request; returns `error` for the caller's convenience.
  Error Restart(Error error);

  std::size_t maxHead_;
  std::size_t skipped_ = 0;   // empty lines before the request line
  std::size_t searched_ = 0;  // bytes searched for the end of the head
  bool begun_ = false;
  std::unique_ptr<Parser> parser_;
};

// Reads one whole head (tests, tools); a head that has not ended is an error too.
Result<HttpRequest> ParseRequestHead(std::string_view head, std::size_t maxHead = 8192);

}  // namespace kasse
