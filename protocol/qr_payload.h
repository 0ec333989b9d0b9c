#pragma once
// The QR payload of one operation: the command data and the card's answer, reduced by the
// payload filter and carried in the verification URL as URL-safe Base64.

#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

class FunctionMonitor;

class QrPayload {
 public:
  static constexpr std::size_t kCapacity = 1024;

  explicit QrPayload(FunctionMonitor* monitor = nullptr) : monitor_(monitor) {}

  // Refused, with a monitor line, when it would not fit; the next URL is then empty.
  bool QRAppend(ByteSpan bytes);
  void QRReset();

  // Filters, encodes and resets: "http://" + host + "/verify.php?t1=" + Base64 with "+" as "-"
  // and "/" as "_". Empty when nothing is left or an append was refused.
  std::string BuildVerifyUrl(std::string_view host);
  const std::string& LastVerifyUrl() const { return lastVerifyUrl_; }
  ByteSpan Bytes() const { return buffer_; }

 private:
  kasse::Bytes buffer_;
  bool overflowed_ = false;
  std::string lastVerifyUrl_;
  FunctionMonitor* monitor_;
};

// The t1 text of a verification URL back to the filtered payload; bad Base64 is an error.
Result<kasse::Bytes> DecodeT1(std::string_view t1);

}  // namespace kasse
