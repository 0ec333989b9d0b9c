#pragma once
// What the verification service answers to one request, independent of sockets: GET and HEAD
// of "/" and of "/verify.php?t1=..." (HTML in the browser's language, JSON for Accept:
// application/json), and the error answers. Every answer carries the same security headers:
// no scripts, no sniffing, no referrer, no caching.

#include <string>
#include <string_view>

#include "verify/http_request.h"

namespace kasse {

class CertificateIndex;

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  bool close = false;  // the connection ends after this answer
  bool headOnly = false;
};

HttpResponse AnswerRequest(const HttpRequest& request, CertificateIndex& index);

// An error answer in HTML or (when the client accepts it) JSON; the connection is closed.
HttpResponse ErrorAnswer(int status, std::string_view why, bool json);

// Status line, headers and (unless headOnly) body.
std::string SerializeResponse(const HttpResponse& response);

}  // namespace kasse
