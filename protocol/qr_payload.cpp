#include "protocol/qr_payload.h"

#include <algorithm>

#include "common/base_n.h"
#include "common/payload_filter.h"
#include "monitor/function_monitor.h"

namespace kasse {

bool QrPayload::QRAppend(ByteSpan bytes) {
  if (buffer_.size() + bytes.size() > kCapacity) {
    overflowed_ = true;
    if (monitor_ != nullptr)
      monitor_->MonitorWriteLine("\tQR: payload would exceed " + std::to_string(kCapacity) +
                                 " bytes; no verification URL");
    return false;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return true;
}

void QrPayload::QRReset() {
  buffer_.clear();
  overflowed_ = false;
}

std::string QrPayload::BuildVerifyUrl(std::string_view host) {
  lastVerifyUrl_.clear();
  if (!overflowed_) {
    FilterPayload(buffer_);
    std::string t1 = Base64Encode(buffer_);
    if (!t1.empty()) {
      std::replace(t1.begin(), t1.end(), '+', '-');
      std::replace(t1.begin(), t1.end(), '/', '_');
      lastVerifyUrl_ = "http://" + std::string(host) + "/verify.php?t1=" + t1;
    }
  }
  QRReset();
  return lastVerifyUrl_;
}

Result<kasse::Bytes> DecodeT1(std::string_view t1) {
  std::string text(t1);
  std::replace(text.begin(), text.end(), '-', '+');
  std::replace(text.begin(), text.end(), '_', '/');
  return Base64Decode(text);
}

}  // namespace kasse
