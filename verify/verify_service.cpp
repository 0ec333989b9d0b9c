#include "verify/verify_service.h"

#include <chrono>

#include "verify/certificate_index.h"
#include "verify/receipt_payload.h"
#include "verify/verify_page.h"

namespace kasse {
namespace {

constexpr auto kRecheckSources = std::chrono::seconds(1);
// Before a receipt is called invalid or unknown, at most this old.
constexpr auto kRecheckSoon = std::chrono::milliseconds(50);

std::string_view Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
  }
  return "Error";
}

bool WantsJson(const HttpRequest& request) {
  return request.accept.find("application/json") != std::string::npos;
}

HttpResponse Verdict(const ReceiptVerdict& verdict, const HttpRequest& request, int status) {
  HttpResponse response;
  response.status = status;
  if (WantsJson(request)) {
    response.contentType = "application/json";
    response.body = VerdictJson(verdict);
  } else {
    response.contentType = "text/html; charset=utf-8";
    response.body = VerdictHtml(verdict, LanguageOfHeader(request.acceptLanguage));
  }
  return response;
}

HttpResponse Route(const HttpRequest& request, CertificateIndex& index) {
  const std::size_t mark = request.target.find('?');
  const std::string_view path = std::string_view(request.target).substr(0, mark);
  if (path == "/") {
    HttpResponse response;
    if (WantsJson(request)) {
      response.contentType = "application/json";
      response.body = "{\"service\":\"kavelo-verify\",\"check\":\"/verify.php?t1=...\"}\n";
    } else {
      response.contentType = "text/html; charset=utf-8";
      response.body = StartHtml(LanguageOfHeader(request.acceptLanguage));
    }
    return response;
  }
  if (path != "/verify.php") return ErrorAnswer(404, "no such page", WantsJson(request));
  const std::string_view query = mark == std::string::npos
                                     ? std::string_view()
                                     : std::string_view(request.target).substr(mark + 1);
  auto t1 = T1Parameter(query);
  if (!t1) {
    ReceiptVerdict verdict;
    verdict.reason = t1.error().English();
    return Verdict(verdict, request, 400);
  }
  index.Refresh(kRecheckSources);
  const auto payload = PayloadOfT1(*t1);
  ReceiptVerdict verdict = JudgePayload(payload, index);
  // A card made a moment ago (or its issuer) may not be indexed yet: look again, soon after.
  if (verdict.validity != Validity::kValid) {
    index.Refresh(kRecheckSoon);
    verdict = JudgePayload(payload, index);
  }
  return Verdict(verdict, request, 200);
}

}  // namespace

HttpResponse AnswerRequest(const HttpRequest& request, CertificateIndex& index) {
  if (request.method != "GET" && request.method != "HEAD")
    return ErrorAnswer(405, "only GET and HEAD are answered", WantsJson(request));
  if (request.hasBody)
    return ErrorAnswer(413, "a request here carries no body", WantsJson(request));
  HttpResponse response = Route(request, index);
  response.headOnly = request.method == "HEAD";
  response.close = response.close || !request.keepAlive;
  return response;
}

HttpResponse ErrorAnswer(int status, std::string_view why, bool json) {
  HttpResponse response;
  response.status = status;
  response.close = status != 404;
  const std::string title = std::to_string(status) + " " + std::string(Reason(status));
  if (json) {
    response.contentType = "application/json";
    response.body = "{\"error\":" + JsonString(title + ": " + std::string(why)) + "}\n";
  } else {
    response.contentType = "text/html; charset=utf-8";
    response.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                    "</title></head><body><h1>" + title + "</h1><p>" + HtmlEscaped(why) +
                    "</p></body></html>\n";
  }
  return response;
}

std::string SerializeResponse(const HttpResponse& response) {
  std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     std::string(Reason(response.status)) + "\r\n";
  text += "Content-Type: " + response.contentType + "\r\n";
  text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  // The pages carry their own style and nothing else: no script, image, frame or form.
  text +=
      "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; "
      "base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "Referrer-Policy: no-referrer\r\n"
      "Cache-Control: no-store\r\n";
  if (response.status == 405) text += "Allow: GET, HEAD\r\n";
  text += response.close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
  if (!response.headOnly) text += response.body;
  return text;
}

}  // namespace kasse
