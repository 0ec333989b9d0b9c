// Request heads without sockets: what the head reader accepts and refuses, that the pieces a
// head arrives in never change its fate, and the connection's order of answers, its bounds
// and its end after a half-close.

#include <gtest/gtest.h>

#include <vector>

#include "verify/http_connection.h"
#include "verify/http_request.h"

namespace kasse {
namespace {

// A head with Host and `fields` (lines without their CR LF).
std::string Head(const std::string& fields = "") {
  return "GET /verify.php?t1=x HTTP/1.1\r\nHost: a\r\n" + (fields.empty() ? "" : fields + "\r\n") +
         "\r\n";
}

TEST(RequestHead, ReadsTheHeadersTheServiceUses) {
  auto request = ParseRequestHead(
      "GET /verify.php?t1=x HTTP/1.0\r\naccept: application/json\r\n"
      "Accept-Language:  fr, en\r\nConnection: Keep-Alive\r\nAccept: text/html\r\n\r\n");
  ASSERT_TRUE(request) << request.error().English();
  EXPECT_EQ(request->method, "GET");
  EXPECT_EQ(request->target, "/verify.php?t1=x");
  EXPECT_FALSE(request->http11);
  EXPECT_EQ(request->accept, "application/json, text/html");
  EXPECT_EQ(request->acceptLanguage, "fr, en");
  EXPECT_TRUE(request->keepAlive);
  EXPECT_FALSE(request->hasBody);
  EXPECT_FALSE(ParseRequestHead(Head("Connection: x, close"))->keepAlive);
  EXPECT_TRUE(ParseRequestHead(Head("Content-Length: 3"))->hasBody);
  EXPECT_TRUE(ParseRequestHead(Head("Transfer-Encoding: gzip, chunked"))->hasBody);
  EXPECT_FALSE(ParseRequestHead(Head("Content-Length: 0"))->hasBody);
}

TEST(RequestHead, RefusesWhatRfc9112Refuses) {
  const struct {
    const char* what;
    std::string head;
  } cases[] = {
      {"whitespace before the colon", Head("Content-Length : 35")},
      {"a tab before the colon", Head("Content-Length\t: 35")},
      {"a bare CR in a value", Head("X-Note: a\rb")},
      {"a bare CR ending a line", "GET / HTTP/1.1\r\nHost: a\rX-Note: b\r\n\r\n"},
      {"a NUL in a value", Head(std::string("X-Note: a\0b", 11))},
      {"DEL in a value", Head("X-Note: a\x7f")},
      {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\n\r\n"},
      {"two Hosts", Head("Host: a")},
      {"a Host with a space", "GET / HTTP/1.1\r\nHost: a b\r\n\r\n"},
      {"two different Content-Length", Head("Content-Length: 1\r\nContent-Length: 2")},
      {"Content-Length and Transfer-Encoding",
       Head("Content-Length: 3\r\nTransfer-Encoding: chunked")},
      {"Transfer-Encoding and Content-Length",
       Head("Transfer-Encoding: chunked\r\nContent-Length: 3")},
      {"a coding not ending in chunked", Head("Transfer-Encoding: chunked, gzip")},
      {"Transfer-Encoding in HTTP/1.0", "GET / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"a negative Content-Length", Head("Content-Length: -1")},
      {"a folded line", Head("X-Note: a\r\n\tb")},
      {"a fold before any field", "GET / HTTP/1.1\r\n folded\r\n\r\n"},
      {"two spaces in the request line", "GET  / HTTP/1.1\r\nHost: a\r\n\r\n"},
      {"HTTP/2", "GET / HTTP/2\r\nHost: a\r\n\r\n"},
      {"HTTP/1.2", "GET / HTTP/1.2\r\nHost: a\r\n\r\n"},
      {"bare LF lines", "GET / HTTP/1.1\nHost: a\n\n"},
      {"a target that is no path", "GET verify.php HTTP/1.1\r\nHost: a\r\n\r\n"},
      {"user information in the target", "GET http://u@a/ HTTP/1.1\r\nHost: a\r\n\r\n"},
      {"an empty authority", "GET http:///x HTTP/1.1\r\nHost: a\r\n\r\n"},
  };
  for (const auto& [what, head] : cases) {
    const auto request = ParseRequestHead(head);
    ASSERT_FALSE(request) << what;
    EXPECT_EQ(request.error().kind, ErrorKind::kMalformed) << what;
  }
}

TEST(RequestHead, AcceptsWhatRfc9112Allows) {
  const struct {
    const char* what;
    std::string head;
    const char* target;
  } cases[] = {
      {"a tab inside a value", Head("X-Note: a\tb"), "/verify.php?t1=x"},
      {"bytes above 0x7F in a value", Head("X-Note: caf\xe9"), "/verify.php?t1=x"},
      {"the same Content-Length twice", Head("Content-Length: 0\r\nContent-Length: 0"),
       "/verify.php?t1=x"},
      {"empty lines before the request line", "\r\n\r\nGET / HTTP/1.1\r\nHost: a\r\n\r\n", "/"},
      {"HTTP/1.0 without Host", "GET / HTTP/1.0\r\n\r\n", "/"},
      {"an empty Host", "GET / HTTP/1.1\r\nHost:\r\n\r\n", "/"},
      {"an IPv6 Host with port", "GET / HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n", "/"},
      {"the absolute form", "GET http://h:1/verify.php?t1=y HTTP/1.1\r\nHost: a\r\n\r\n",
       "/verify.php?t1=y"},
      {"the absolute form in capitals", "GET HTTPS://H/ HTTP/1.1\r\nHost: a\r\n\r\n", "/"},
      {"the absolute form without a path", "GET http://h?t1=y HTTP/1.1\r\nHost: a\r\n\r\n",
       "/?t1=y"},
      {"OPTIONS *", "OPTIONS * HTTP/1.1\r\nHost: a\r\n\r\n", "*"},
  };
  for (const auto& [what, head, target] : cases) {
    const auto request = ParseRequestHead(head);
    ASSERT_TRUE(request) << what << ": " << request.error().English();
    EXPECT_EQ(request->target, target) << what;
  }
}

// What a reader makes of `stream` cut into pieces of `step` bytes: each head's target or
// error, then "more" when it waits for the rest.
std::vector<std::string> ReadInPieces(const std::string& stream, std::size_t step,
                                      std::size_t maxHead) {
  RequestHeadReader reader(maxHead);
  std::vector<std::string> outcomes;
  std::string pending;
  for (std::size_t at = 0; at < stream.size();) {
    pending += stream.substr(at, step);
    at += step;
    for (;;) {
      auto read = reader.Read(pending);
      if (!read) {
        outcomes.push_back("error: " + read.error().English());
        return outcomes;
      }
      if (!*read) break;
      outcomes.push_back((*read)->request.target);
      pending.erase(0, (*read)->size);
    }
  }
  outcomes.push_back(reader.Begun() ? "more" : "nothing");
  return outcomes;
}

TEST(RequestHead, TheSameWhateverPiecesTheHeadsArriveIn) {
  const std::string streams[] = {
      "GET /a HTTP/1.1\r\nHost: a\r\nX-Long: " + std::string(300, 'x') + "\r\n\r\n\r\n" +
          "GET /b HTTP/1.1\r\nHost: a\r\n\r\nGET /c HTTP/1.1\r\nHo",
      "GET /a HTTP/1.1\r\nHost: a\r\n\r\nGET /b HTTP/1.1\r\nHost: a\r\nX : y\r\n\r\n",
      "GET /a HTTP/1.1\r\nHost: a\r\n\r\nGET /b HTTP/1.1\r\nX-Long: " + std::string(600, 'x'),
      "\r\n\r\n",
  };
  for (const std::string& stream : streams) {
    const auto whole = ReadInPieces(stream, stream.size(), 512);
    for (std::size_t step : {1u, 2u, 3u, 7u, 64u})
      EXPECT_EQ(ReadInPieces(stream, step, 512), whole) << "pieces of " << step;
  }
  EXPECT_EQ(ReadInPieces(streams[0], 5, 512), (std::vector<std::string>{"/a", "/b", "more"}));
  EXPECT_EQ(ReadInPieces(streams[2], 5, 512).back(), "error: the request head is too long");
  EXPECT_EQ(ReadInPieces(streams[3], 1, 512).back(), "nothing");
}

TEST(RequestHead, AHeadLongerThanTheLimitIsTooLong) {
  const std::string head = Head("X-Long: " + std::string(600, 'x'));
  auto request = ParseRequestHead(head, 512);
  ASSERT_FALSE(request);
  EXPECT_EQ(request.error().kind, ErrorKind::kTooLong);
  EXPECT_TRUE(ParseRequestHead(head, head.size()));
  // Empty lines before it count too: they are bytes the client made the service hold.
  EXPECT_FALSE(ParseRequestHead(std::string(600, '\r') + head, head.size()));
}

class HttpConnectionTest : public ::testing::Test {
 protected:
  HttpConnectionTest()
      : connection_(512, [this](const HttpRequest& request) {
          answered_.push_back(request.target);
          HttpResponse response;
          response.contentType = "text/plain";
          response.body = request.target;
          response.close = !request.keepAlive;
          return response;
        }) {}

  // Takes every answer due, as a socket that never blocks would; their status codes.
  std::vector<int> Drain() {
    std::vector<int> statuses;
    while (connection_.AnswerNext()) {
      const std::string_view unsent = connection_.Unsent();
      statuses.push_back(std::stoi(std::string(unsent.substr(9, 3))));
      connection_.Sent(unsent.size());
    }
    return statuses;
  }

  std::vector<std::string> answered_;
  HttpConnection connection_;
};

TEST_F(HttpConnectionTest, AnswersOneRequestAtATimeAsEachAnswerLeaves) {
  connection_.Received(Head() + Head());
  ASSERT_TRUE(connection_.AnswerNext());
  EXPECT_FALSE(connection_.WaitingForHead());
  connection_.Sent(5);
  EXPECT_FALSE(connection_.AnswerNext()) << "the first answer has not left";
  connection_.Sent(connection_.Unsent().size());
  EXPECT_TRUE(connection_.WaitingForHead());
  EXPECT_EQ(Drain(), std::vector<int>{200});
  EXPECT_EQ(answered_.size(), 2u);
  EXPECT_FALSE(connection_.Done());
  EXPECT_FALSE(connection_.HeardFrom());
}

TEST_F(HttpConnectionTest, AnswersWhatCameBeforeAHalfCloseThenEnds) {
  connection_.Received("GET /a HTTP/1.1\r\nHost: a\r\n\r\nGET /b HTTP/1.0\r\n\r");
  EXPECT_EQ(Drain(), std::vector<int>{200});
  connection_.Received("\n");
  connection_.PeerClosed();
  EXPECT_EQ(Drain(), std::vector<int>{200});
  EXPECT_TRUE(connection_.Done());
  EXPECT_EQ(answered_, (std::vector<std::string>{"/a", "/b"}));
}

TEST_F(HttpConnectionTest, KeepAliveRequestsBeforeAHalfCloseAreAnsweredThenItEnds) {
  connection_.Received(Head() + "\r\n");
  connection_.PeerClosed();
  EXPECT_EQ(Drain(), std::vector<int>{200});
  EXPECT_TRUE(connection_.Done()) << "empty lines before the end are no request";
}

TEST_F(HttpConnectionTest, AHeadCutShortByAHalfCloseIsRefused) {
  connection_.Received("GET /a HTTP/1.1\r\nHost: a\r\n");
  EXPECT_EQ(Drain(), std::vector<int>{});
  connection_.PeerClosed();
  EXPECT_EQ(Drain(), std::vector<int>{400});
  EXPECT_TRUE(connection_.Done());
  EXPECT_TRUE(answered_.empty());
}

TEST_F(HttpConnectionTest, NothingBehindARefusedHeadIsAnswered) {
  connection_.Received(Head("Content-Length : 33") + "GET /hidden HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_EQ(Drain(), std::vector<int>{400});
  connection_.Received(Head());
  EXPECT_EQ(Drain(), std::vector<int>{});
  EXPECT_TRUE(connection_.Done());
  EXPECT_TRUE(answered_.empty());
}

TEST_F(HttpConnectionTest, MoreThanAHeadBufferedIsAnsweredTooLong) {
  connection_.Received("GET /a HTTP/1.1\r\nX-Long: " + std::string(600, 'x'));
  EXPECT_TRUE(connection_.Full());
  EXPECT_EQ(Drain(), std::vector<int>{431});
  EXPECT_TRUE(connection_.Done());
  EXPECT_FALSE(connection_.Full());
}

}  // namespace
}  // namespace kasse
