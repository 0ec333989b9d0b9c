#include "receipt/cups_printer.h"

#include <cups/cups.h>

#include <memory>

#include "receipt/receipt_messages.h"

namespace kasse {

namespace {

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpCloser>;

constexpr int kConnectTimeoutMs = 30000;

Error JobError(const std::string& queue, const MessageId& step) {
  return MakeError(ErrorKind::kIo, receipt_msg::kPrintJobFailed,
                   {queue, MakeError(ErrorKind::kIo, step), cupsLastErrorString()});
}

bool QueueExists(http_t* http, const std::string& queue) {
  cups_dest_t* dest = cupsGetNamedDest(http, queue.c_str(), nullptr);
  if (dest == nullptr) return false;
  cupsFreeDests(1, dest);
  return true;
}

}  // namespace

Result<void> PrintRawJob(const std::string& queue, std::string_view data) {
  // A default destination would print on whatever printer happens to be the default.
  if (queue.empty())
    return MakeError(ErrorKind::kMissingInput, receipt_msg::kPrinterMissing, {queue});
  Connection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                               kConnectTimeoutMs, nullptr));
  if (!http || !QueueExists(http.get(), queue))
    return MakeError(ErrorKind::kIo, receipt_msg::kPrinterMissing, {queue});
  const int job = cupsCreateJob(http.get(), queue.c_str(), kRawJobTitle, 0, nullptr);
  if (job == 0) return JobError(queue, receipt_msg::kJobNotCreated);
  if (cupsStartDocument(http.get(), queue.c_str(), job, kRawJobTitle, CUPS_FORMAT_RAW, 1) !=
      HTTP_STATUS_CONTINUE) {
    Error error = JobError(queue, receipt_msg::kDocumentNotStarted);
    cupsCancelJob2(http.get(), queue.c_str(), job, 0);
    return error;
  }
  if (cupsWriteRequestData(http.get(), data.data(), data.size()) != HTTP_STATUS_CONTINUE) {
    Error error = JobError(queue, receipt_msg::kDataNotSent);
    cupsFinishDocument(http.get(), queue.c_str());
    cupsCancelJob2(http.get(), queue.c_str(), job, 0);
    return error;
  }
  if (cupsFinishDocument(http.get(), queue.c_str()) != IPP_STATUS_OK)
    return JobError(queue, receipt_msg::kDocumentRefused);
  return {};
}

}  // namespace kasse
