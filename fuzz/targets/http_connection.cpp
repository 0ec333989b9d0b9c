// A client's bytes as the verification service takes them: cut at points the input chooses
// into reads, half-closes and slow writes, through the head reader and the connection's state
// machine. The same bytes read at once must be answered alike, every answer must be whole and
// framed, nothing may follow an answer that closes, and a half-closed connection must end.
//
// Input: one byte K, then K cut bytes, then the stream. Each cut byte: the low six bits plus
// one are the size of the next read; bit 6 half-closes after it; bit 7 has the writer take the
// answers a few bytes at a time, reading on in between. The rest of the stream is one last
// read, then the peer half-closes.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "verify/certificate_index.h"
#include "verify/http_connection.h"

namespace {

using kasse::HttpConnection;
using kasse::HttpRequest;
using kasse::HttpResponse;
using kasse::fuzz::Violated;

constexpr std::size_t kMaxHead = 512;

struct Run {
  std::size_t delivered = 0;  // bytes of the stream read before the half-close
  std::string out;
  std::vector<bool> headOnly;  // per request answered by the service, in order
};

kasse::CertificateIndex& Index() {
  static kasse::CertificateIndex index{kasse::CertificateSources{}};
  return index;
}

// What the event loop does with the connection once bytes came: answers, written whole, or
// (slow) a few bytes at a time with a read of the next bytes in between.
void Serve(HttpConnection& connection, Run& run, bool slow, std::string_view& next) {
  for (;;) {
    while (!connection.Unsent().empty()) {
      const std::string_view unsent = connection.Unsent();
      const std::size_t taken = slow ? std::min<std::size_t>(unsent.size(), 5) : unsent.size();
      run.out.append(unsent.substr(0, taken));
      connection.Sent(taken);
      if (!connection.Unsent().empty() && connection.AnswerNext())
        Violated("a second answer before the first has left");
      if (slow && !next.empty()) {
        connection.Received(next.substr(0, 1));
        next.remove_prefix(1);
      }
    }
    if (!connection.AnswerNext()) break;
  }
  if (connection.Full()) Violated("a full buffer is neither answered nor closed");
}

Run Drive(kasse::ByteSpan cuts, std::string_view stream) {
  Run run;
  const std::size_t total = stream.size();
  HttpConnection connection(kMaxHead, [&run](const HttpRequest& request) {
    if (!request.target.starts_with('/') && request.target != "*")
      Violated("a target that is no path reaches the service");
    const HttpResponse response = kasse::AnswerRequest(request, Index());
    run.headOnly.push_back(response.headOnly);
    return response;
  });
  bool slow = false;
  bool halfClosed = false;
  for (const kasse::Byte cut : cuts) {
    std::string_view piece = stream.substr(0, (cut & 0x3F) + 1u);
    stream.remove_prefix(piece.size());
    connection.Received(piece);
    slow = (cut & 0x80) != 0;
    Serve(connection, run, slow, stream);
    halfClosed = (cut & 0x40) != 0;
    if (halfClosed) break;
  }
  if (!halfClosed) {
    connection.Received(stream);
    stream = {};
  }
  run.delivered = total - stream.size();
  connection.PeerClosed();
  std::string_view none;
  Serve(connection, run, slow, none);
  if (!connection.Done()) Violated("a half-closed connection does not end");
  return run;
}

std::size_t Number(std::string_view text) {
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 1'000'000) Violated("a Content-Length that is a number");
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

// Splits the answers: each a status line, a head with its Content-Length and (unless it
// answers HEAD) that many bytes; only the last may close the connection.
void CheckAnswers(const Run& run) {
  std::string_view out = run.out;
  for (std::size_t index = 0; !out.empty(); ++index) {
    if (!out.starts_with("HTTP/1.1 ")) Violated("an answer begins with its status line");
    const std::size_t headEnd = out.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) Violated("an answer's head ends");
    const std::string_view head = out.substr(0, headEnd + 2);
    const std::size_t field = head.find("\r\nContent-Length: ");
    if (field == std::string_view::npos) Violated("an answer has a Content-Length");
    const std::size_t valueAt = field + 18;
    const std::size_t length = Number(head.substr(valueAt, head.find('\r', valueAt) - valueAt));
    const bool byService = index < run.headOnly.size();
    const std::size_t size = headEnd + 4 + (byService && run.headOnly[index] ? 0 : length);
    if (size > out.size()) Violated("an answer is whole");
    if (!byService && size != out.size()) Violated("a refusal is the last answer");
    if (head.find("\r\nConnection: close\r\n") != std::string_view::npos && size != out.size())
      Violated("nothing follows an answer that closes");
    out.remove_prefix(size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kasse::fuzz::FuzzInput input(data, size);
  const kasse::ByteSpan cuts = input.TakeBytes(input.TakeByte());
  const std::string_view stream = input.RestText();
  const Run split = Drive(cuts, stream);
  CheckAnswers(split);
  // The same bytes at once, up to where the split run half-closed.
  const Run whole = Drive({}, stream.substr(0, split.delivered));
  if (whole.out != split.out) Violated("the answers do not depend on how the bytes were cut");
  return 0;
}
