// The verification service over loopback: what it answers to each kind of request, and the
// headers every answer carries.

#include <gtest/gtest.h>

#include "verify/http_request.h"
#include "verify/tests/journal_fixture.h"
#include "verify/tests/loopback_client.h"
#include "verify/tests/running_server.h"

namespace kasse {
namespace {

using testing::JournalMaker;
using testing::LoopbackSocket;
using testing::StatusOf;
using testing::T1;

class VerifyServerTest : public ::testing::Test {
 protected:
  VerifyServerTest() : t1_(T1(maker_.Sale(300))), server_(Sources(), ServeOptions{}) {}

  CertificateSources Sources() const {
    CertificateSources sources;
    sources.cards = {maker_.Certificate()};
    sources.trusted = {maker_.Issuer()};
    return sources;
  }
  // One request on a connection of its own.
  std::string Ask(const std::string& head) {
    LoopbackSocket socket(server_.Port());
    socket.ExpectHeadOnly(head.starts_with("HEAD "));
    EXPECT_TRUE(socket.Send(head));
    return socket.Answer().value_or("");
  }
  static std::string Get(const std::string& target, const std::string& headers = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
  }

  JournalMaker maker_;
  std::string t1_;
  testing::RunningServer server_;
};

TEST_F(VerifyServerTest, EveryKindOfAnswerCarriesTheSecurityHeaders) {
  ASSERT_NE(server_.Port(), 0);
  const struct {
    std::string request;
    int status;
  } cases[] = {
      {Get("/verify.php?t1=" + t1_, "Accept-Language: en\r\n"), 200},
      {Get("/verify.php?t1=" + t1_, "Accept: application/json\r\n"), 200},
      {Get("/"), 200},
      {Get("/verify.php?t1"), 400},
      {Get("/verify.php?t1=" + t1_ + "&t1=" + t1_, "Accept: application/json\r\n"), 400},
      {Get("/other"), 404},
      {"POST /verify.php HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405},
      {"GET /verify.php?t1=x HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", 413},
      {Get("/", "X-Filler: " + std::string(9000, 'x') + "\r\n"), 431},
      {"NONSENSE\r\n\r\n", 400},
      {"HEAD /verify.php?t1=" + t1_ + " HTTP/1.1\r\n\r\n", 200},
  };
  for (const auto& [request, status] : cases) {
    const std::string answer = Ask(request);
    const std::string head = answer.substr(0, answer.find("\r\n\r\n"));
    EXPECT_EQ(StatusOf(answer), status) << request.substr(0, 60) << "\n" << head;
    for (const char* header : {"Content-Security-Policy: ", "X-Content-Type-Options: nosniff",
                               "Referrer-Policy: no-referrer", "Cache-Control: no-store"}) {
      EXPECT_NE(head.find(header), std::string::npos) << header << " in\n" << head;
    }
    const std::size_t policy = head.find("Content-Security-Policy: ");
    if (policy != std::string::npos) {
      const std::string value = head.substr(policy, head.find("\r\n", policy) - policy);
      EXPECT_NE(value.find("default-src 'none'"), std::string::npos) << value;
      EXPECT_EQ(value.find("script-src"), std::string::npos) << value;
    }
  }
}

TEST_F(VerifyServerTest, AnswersTheExactT1ParameterInTheAskedFormAndLanguage) {
  std::string page = Ask(Get("/verify.php?xt1=AAAA&t1=" + t1_, "Accept-Language: en\r\n"));
  EXPECT_EQ(StatusOf(page), 200);
  EXPECT_NE(page.find("Receipt valid"), std::string::npos) << page;
  const std::string json = Ask(Get("/verify.php?t1=" + t1_, "Accept: application/json\r\n"));
  EXPECT_NE(json.find("Content-Type: application/json"), std::string::npos);
  EXPECT_NE(json.find("\"verdict\":\"valid\""), std::string::npos) << json;
  const std::string missing = Ask(Get("/verify.php?xt1=" + t1_, "Accept: application/json\r\n"));
  EXPECT_EQ(StatusOf(missing), 400);
  EXPECT_NE(missing.find("no such parameter"), std::string::npos) << missing;
  const std::string head = Ask("HEAD /verify.php?t1=" + t1_ + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");
  EXPECT_EQ(head.find("Content-Length: 0"), std::string::npos);
}

TEST_F(VerifyServerTest, KeepsTheConnectionForPipelinedRequestsUntilClose) {
  LoopbackSocket socket(server_.Port());
  ASSERT_TRUE(socket.Send(Get("/") + Get("/verify.php?t1=" + t1_, "Accept-Language: fr\r\n") +
                          "GET / HTTP/1.1\r\nConnection: close\r\n\r\n"));
  const auto first = socket.Answer();
  const auto second = socket.Answer();
  const auto third = socket.Answer();
  ASSERT_TRUE(first && second && third);
  EXPECT_NE(first->find("Connection: keep-alive"), std::string::npos);
  EXPECT_NE(second->find("Ticket valide"), std::string::npos);
  EXPECT_NE(third->find("Connection: close"), std::string::npos);
  EXPECT_TRUE(socket.ClosedWithin(std::chrono::seconds(5)));
}

TEST_F(VerifyServerTest, AnswersAFloodOfPipelinedRequestsInOrder) {
  LoopbackSocket socket(server_.Port());
  std::string flood;
  for (int i = 0; i < 600; ++i)
    flood += i % 2 ? "GET / HTTP/1.1\r\n\r\n" : "GET /nothing HTTP/1.1\r\n\r\n";
  ASSERT_TRUE(socket.Send(flood));
  for (int i = 0; i < 600; ++i) {
    const auto answer = socket.Answer();
    ASSERT_TRUE(answer) << "answer " << i;
    ASSERT_EQ(testing::StatusOf(*answer), i % 2 ? 200 : 404) << "answer " << i;
  }
}

TEST(HttpRequest, ReadsTheHeadersTheServiceUses) {
  auto request = ParseRequestHead(
      "GET /verify.php?t1=x HTTP/1.0\r\naccept: application/json\r\n"
      "Accept-Language:  fr, en\r\nConnection: Keep-Alive\r\n\r\n");
  ASSERT_TRUE(request) << request.error().message;
  EXPECT_EQ(request->method, "GET");
  EXPECT_EQ(request->target, "/verify.php?t1=x");
  EXPECT_EQ(request->accept, "application/json");
  EXPECT_EQ(request->acceptLanguage, "fr, en");
  EXPECT_TRUE(request->keepAlive);
  EXPECT_FALSE(request->hasBody);
  EXPECT_FALSE(ParseRequestHead("GET / HTTP/2\r\n\r\n"));
  EXPECT_FALSE(ParseRequestHead("GET  / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(ParseRequestHead("GET / HTTP/1.1\r\n folded\r\n\r\n"));
  EXPECT_TRUE(ParseRequestHead("GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")->hasBody);
  EXPECT_EQ(HeadEnd("GET / HTTP/1.1\r\nA: b\r\n\r\nrest"), 24u);
  EXPECT_EQ(HeadEnd("GET / HTTP/1.1\nA: b\n\n"), 21u);
  EXPECT_EQ(HeadEnd("GET / HTTP/1.1\r\nA: b\r\n"), std::string::npos);
  // Searched on from where the last piece ended, even when the empty line spans the pieces.
  const std::string head = "GET / HTTP/1.1\r\nA: b\r\n\r\n";
  for (std::size_t from = 0; from < head.size(); ++from)
    EXPECT_EQ(HeadEnd(head, from), head.size()) << from;
}

TEST(VerifyServer, ListenTextIsChecked) {
  ServeOptions options;
  EXPECT_TRUE(ParseListen("0.0.0.0:9000", options));
  EXPECT_EQ(options.host, "0.0.0.0");
  EXPECT_EQ(options.port, 9000);
  EXPECT_TRUE(ParseListen("[::1]:9001", options));
  EXPECT_EQ(options.host, "::1");
  EXPECT_FALSE(ParseListen("127.0.0.1:99999", options));
  EXPECT_FALSE(ParseListen(":80", options));
}

}  // namespace
}  // namespace kasse
