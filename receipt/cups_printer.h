#pragma once
// Submitting a raw job to a print queue through the CUPS client library. The server is the
// one the client is set to (CUPS_SERVER, client.conf, else the local scheduler).

#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

inline constexpr char kRawJobTitle[] = "Zahlungsbeleg";

// Sends `data` unchanged as one raw document. A queue that is missing or unreachable gives
// receipt_msg::kPrinterMissing; a job or document that cannot be started sends nothing, cancels the
// job and closes the connection.
Result<void> PrintRawJob(const std::string& queue, std::string_view data);

}  // namespace kasse
