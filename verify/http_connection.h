#pragma once
// One connection of the verification service without its socket: the bytes that came in, the
// answer owed and whether the connection ends. The event loop owns the socket, its deadlines
// and the connection bound, and moves bytes between the socket and this; tests and the fuzz
// target drive it directly.
//
// Requests are answered one at a time and in order: the next is read only when the last answer
// has left (a client that does not read its answers stops being read). A bad head is answered
// with 400 (431 when too long) and ends the connection, so no byte behind it is ever read as a
// request. When the peer has half-closed, every request it sent before is still answered, then
// the connection ends.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "verify/http_request.h"
#include "verify/verify_service.h"

namespace kasse {

class HttpConnection {
 public:
  using Answerer = std::function<HttpResponse(const HttpRequest&)>;
  HttpConnection(std::size_t maxHead, Answerer answer);

  // Bytes read from the peer (dropped once the connection is ending).
  void Received(std::string_view bytes);
  // The peer sends nothing more (a read of 0 bytes).
  void PeerClosed();

  // Puts the answer to the next request into Unsent. False when none is due: the head has not
  // ended, the last answer has not left yet, or the connection is ending.
  bool AnswerNext();
  std::string_view Unsent() const;
  void Sent(std::size_t count);

  // Every answer has left and none will follow: close the socket.
  bool Done() const;
  // No answer is waiting to leave and more may be answered: the connection waits for a head.
  bool WaitingForHead() const;
  // A byte of the next request has come.
  bool HeardFrom() const;
  // More is buffered than a head may be long: stop reading until it is answered.
  bool Full() const;

 private:
  void Reply(const HttpResponse& response);

  std::size_t maxHead_;
  Answerer answer_;
  RequestHeadReader reader_;
  std::string in_, out_;
  std::size_t sent_ = 0;
  bool peerClosed_ = false;
  bool ending_ = false;  // no more answers after the one in out_
};

}  // namespace kasse
