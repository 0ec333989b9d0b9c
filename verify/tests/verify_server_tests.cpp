// The verification service over loopback: what it answers to each kind of request, and the
// headers every answer carries.

#include <gtest/gtest.h>

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
      {"POST /verify.php HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n\r\n", 405},
      {"GET /verify.php?t1=x HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\nhello", 413},
      {Get("/", "X-Filler: " + std::string(9000, 'x') + "\r\n"), 431},
      {"NONSENSE\r\n\r\n", 400},
      {"HEAD /verify.php?t1=" + t1_ + " HTTP/1.1\r\nHost: a\r\n\r\n", 200},
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
  const std::string head = Ask("HEAD /verify.php?t1=" + t1_ + " HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");
  EXPECT_EQ(head.find("Content-Length: 0"), std::string::npos);
}

TEST_F(VerifyServerTest, KeepsTheConnectionForPipelinedRequestsUntilClose) {
  LoopbackSocket socket(server_.Port());
  ASSERT_TRUE(socket.Send(Get("/") + Get("/verify.php?t1=" + t1_, "Accept-Language: fr\r\n") +
                          Get("/", "Connection: close\r\n")));
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
    flood += i % 2 ? Get("/") : Get("/nothing");
  ASSERT_TRUE(socket.Send(flood));
  for (int i = 0; i < 600; ++i) {
    const auto answer = socket.Answer();
    ASSERT_TRUE(answer) << "answer " << i;
    ASSERT_EQ(testing::StatusOf(*answer), i % 2 ? 200 : 404) << "answer " << i;
  }
}

// Each head here was answered 200 (and what stood behind it as a second request) before: a
// proxy in front that reads the head otherwise would send the hidden request through.
TEST_F(VerifyServerTest, HeadsAProxyCouldReadOtherwiseAreRefusedAndNothingBehindThemRuns) {
  ASSERT_NE(server_.Port(), 0);
  const std::string hidden = "GET /hidden HTTP/1.1\r\nHost: a\r\n\r\n";
  const std::string length = std::to_string(hidden.size());
  const struct {
    const char* what;
    std::string head;
  } cases[] = {
      {"a space before the colon", "Content-Length : " + length + "\r\n"},
      {"a tab before the colon", "Content-Length\t: " + length + "\r\n"},
      {"a bare CR in a value", "X-Note: a\rb\r\n"},
      {"a NUL in a value", std::string("X-Note: a\0b\r\n", 13)},
      {"another control character in a value",
       "X-Note: a\x01"
       "b\r\n"},
      {"two different Content-Length", "Content-Length: 0\r\nContent-Length: " + length + "\r\n"},
      {"Content-Length beside Transfer-Encoding",
       "Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n"},
      {"a Transfer-Encoding that does not end in chunked", "Transfer-Encoding: gzip\r\n"},
      {"a folded line", "X-Note: a\r\n Content-Length: " + length + "\r\n"},
  };
  for (const auto& [what, headers] : cases) {
    LoopbackSocket socket(server_.Port());
    ASSERT_TRUE(socket.Send("GET / HTTP/1.1\r\nHost: a\r\n" + headers + "\r\n" + hidden));
    const auto answer = socket.Answer();
    ASSERT_TRUE(answer) << what;
    EXPECT_EQ(StatusOf(*answer), 400) << what << "\n" << *answer;
    EXPECT_NE(answer->find("Connection: close"), std::string::npos) << what;
    EXPECT_TRUE(socket.ClosedWithNothingMore()) << what << ": something answered behind it";
  }
}

TEST_F(VerifyServerTest, HostIsRequiredOnceInHttp11AndAtMostOnceInHttp10) {
  ASSERT_NE(server_.Port(), 0);
  const struct {
    const char* what;
    std::string request;
    int status;
  } cases[] = {
      {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\n\r\n", 400},
      {"two Hosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
      {"two Hosts in HTTP/1.0", "GET / HTTP/1.0\r\nHost: a\r\nHost: a\r\n\r\n", 400},
      {"a Host that is no host", "GET / HTTP/1.1\r\nHost: a/b\r\n\r\n", 400},
      {"HTTP/1.0 without Host", "GET / HTTP/1.0\r\n\r\n", 200},
      {"a host and port", "GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 200},
      {"an empty Host", "GET / HTTP/1.1\r\nHost:\r\n\r\n", 200},
  };
  for (const auto& [what, request, status] : cases)
    EXPECT_EQ(StatusOf(Ask(request)), status) << what;
}

TEST_F(VerifyServerTest, AnAbsoluteFormTargetIsServedByItsPath) {
  ASSERT_NE(server_.Port(), 0);
  const std::string json = "Accept: application/json\r\n";
  const std::string check = Ask(Get("http://127.0.0.1/verify.php?t1=" + t1_, json));
  EXPECT_EQ(StatusOf(check), 200) << check;
  EXPECT_NE(check.find("\"verdict\":\"valid\""), std::string::npos) << check;
  const std::string start = Ask(Get("HTTP://verify.example.org:8080", json));
  EXPECT_NE(start.find("\"service\":\"kavelo-verify\""), std::string::npos) << start;
  EXPECT_EQ(StatusOf(Ask(Get("http://user@host/verify.php?t1=" + t1_))), 400);
  EXPECT_EQ(StatusOf(Ask(Get("ftp://host/verify.php?t1=" + t1_))), 400);
}

TEST_F(VerifyServerTest, ARequestFollowedByAHalfCloseIsAnsweredEveryTime) {
  ASSERT_NE(server_.Port(), 0);
  int answered = 0;
  for (int i = 0; i < 10; ++i) {
    LoopbackSocket socket(server_.Port());
    ASSERT_TRUE(socket.Send("GET / HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(socket.HalfClose());
    const auto answer = socket.Answer();
    if (answer && StatusOf(*answer) == 200) ++answered;
    EXPECT_TRUE(socket.ClosedWithNothingMore());
  }
  EXPECT_EQ(answered, 10);
  // Keep-alive requests before the half-close are all answered, in order, then it closes.
  LoopbackSocket socket(server_.Port());
  ASSERT_TRUE(
      socket.Send(Get("/nothing") + Get("/verify.php?t1=" + t1_, "Accept-Language: en\r\n")));
  ASSERT_TRUE(socket.HalfClose());
  const auto first = socket.Answer();
  const auto second = socket.Answer();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(StatusOf(*first), 404);
  EXPECT_NE(second->find("Receipt valid"), std::string::npos) << *second;
  EXPECT_TRUE(socket.ClosedWithNothingMore());
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
