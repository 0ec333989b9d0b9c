#include "verify/http_request.h"

#include <algorithm>
#include <cctype>

namespace kasse {
namespace {

Error BadRequest(const std::string& what) {
  return MakeError(ErrorKind::kMalformed, what);
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool HasToken(std::string_view list, std::string_view token) {
  for (std::size_t at = 0; at <= list.size();) {
    std::size_t end = list.find(',', at);
    if (end == std::string_view::npos) end = list.size();
    if (SameText(Trimmed(list.substr(at, end - at)), token)) return true;
    at = end + 1;
  }
  return false;
}

Result<void> ReadRequestLine(std::string_view line, HttpRequest& request) {
  const std::size_t first = line.find(' ');
  const std::size_t second = line.find(' ', first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos ||
      line.find(' ', second + 1) != std::string_view::npos) {
    return BadRequest("the request line is not METHOD TARGET VERSION");
  }
  request.method = std::string(line.substr(0, first));
  request.target = std::string(line.substr(first + 1, second - first - 1));
  const std::string_view version = line.substr(second + 1);
  if (version == "HTTP/1.1") {
    request.http11 = true;
  } else if (version == "HTTP/1.0") {
    request.http11 = false;
    request.keepAlive = false;
  } else {
    return BadRequest("not HTTP/1.0 or HTTP/1.1");
  }
  if (request.method.empty() || request.target.empty()) return BadRequest("empty method or target");
  return {};
}

void ReadHeader(std::string_view name, std::string_view value, HttpRequest& request) {
  if (SameText(name, "Accept")) {
    request.accept = std::string(value);
  } else if (SameText(name, "Accept-Language")) {
    request.acceptLanguage = std::string(value);
  } else if (SameText(name, "Connection")) {
    if (HasToken(value, "close")) request.keepAlive = false;
    if (HasToken(value, "keep-alive")) request.keepAlive = true;
  } else if (SameText(name, "Content-Length")) {
    request.hasBody = request.hasBody || value.find_first_not_of('0') != std::string_view::npos;
  } else if (SameText(name, "Transfer-Encoding")) {
    request.hasBody = true;
  }
}

}  // namespace

std::size_t HeadEnd(std::string_view buffer, std::size_t from) {
  // The empty line may have begun up to two bytes before `from`.
  for (std::size_t at = buffer.find('\n', from > 2 ? from - 2 : 0); at != std::string_view::npos;
       at = buffer.find('\n', at + 1)) {
    if (at + 1 < buffer.size() && buffer[at + 1] == '\n') return at + 2;
    if (at + 2 < buffer.size() && buffer[at + 1] == '\r' && buffer[at + 2] == '\n') return at + 3;
  }
  return std::string_view::npos;
}

Result<HttpRequest> ParseRequestHead(std::string_view head) {
  HttpRequest request;
  bool first = true;
  for (std::size_t at = 0; at < head.size();) {
    std::size_t end = head.find('\n', at);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at = end + 1;
    if (first) {
      if (auto read = ReadRequestLine(line, request); !read) return read.error();
      first = false;
      continue;
    }
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' ||
        line.front() == '\t') {
      return BadRequest("a header line is not NAME: VALUE");
    }
    ReadHeader(line.substr(0, colon), Trimmed(line.substr(colon + 1)), request);
  }
  if (first) return BadRequest("no request line");
  return request;
}

}  // namespace kasse
