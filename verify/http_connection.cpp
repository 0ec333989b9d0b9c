#include "verify/http_connection.h"

#include <utility>

namespace kasse {

HttpConnection::HttpConnection(std::size_t maxHead, Answerer answer)
    : maxHead_(maxHead), answer_(std::move(answer)), reader_(maxHead) {}

void HttpConnection::Received(std::string_view bytes) {
  if (!ending_ && !peerClosed_) in_.append(bytes);
}

void HttpConnection::PeerClosed() {
  peerClosed_ = true;
}

bool HttpConnection::AnswerNext() {
  if (ending_ || sent_ < out_.size()) return false;
  out_.clear();
  sent_ = 0;
  auto head = reader_.Read(in_);
  if (!head) {
    const bool tooLong = head.error().kind == ErrorKind::kTooLong;
    Reply(ErrorAnswer(tooLong ? 431 : 400, head.error().English(), false));
    return true;
  }
  if (!*head) {
    if (!peerClosed_) return false;
    // Nothing more will come: a head cut short is answered, empty lines are not.
    if (!reader_.Begun()) {
      ending_ = true;
      return false;
    }
    Reply(ErrorAnswer(400, "the connection ended before the request head did", false));
    return true;
  }
  in_.erase(0, (*head)->size);
  Reply(answer_((*head)->request));
  return true;
}

void HttpConnection::Reply(const HttpResponse& response) {
  out_ = SerializeResponse(response);
  sent_ = 0;
  if (response.close) {
    ending_ = true;
    in_.clear();
  }
}

std::string_view HttpConnection::Unsent() const {
  return std::string_view(out_).substr(sent_);
}

void HttpConnection::Sent(std::size_t count) {
  sent_ = std::min(out_.size(), sent_ + count);
}

bool HttpConnection::Done() const {
  return ending_ && sent_ == out_.size();
}

bool HttpConnection::WaitingForHead() const {
  return !ending_ && sent_ == out_.size();
}

bool HttpConnection::HeardFrom() const {
  return !in_.empty();
}

bool HttpConnection::Full() const {
  return in_.size() > maxHead_;
}

}  // namespace kasse
