#pragma once
// The head of an HTTP/1.1 request, as far as the verification service reads it: request line,
// the headers it uses and whether a body or the end of the connection is announced. Bounded
// and linear: the caller limits the head's size, the parser looks at each byte once.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

struct HttpRequest {
  std::string method, target;
  bool http11 = true;
  bool keepAlive = true;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only when asked
  bool hasBody = false;   // Content-Length above 0 or any Transfer-Encoding
  std::string accept, acceptLanguage;
};

// Where the head ends in `buffer` (the offset just behind its empty line), or npos when it has
// not ended yet. `from`: bytes before it were searched already (a head arriving in pieces is
// searched once, not again for every piece).
std::size_t HeadEnd(std::string_view buffer, std::size_t from = 0);

// Parses a head (up to and including its empty line); an error is a bad request.
Result<HttpRequest> ParseRequestHead(std::string_view head);

}  // namespace kasse
