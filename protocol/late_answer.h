#pragma once
// A card answer that came after the patience limit, journalled as a record of its own in the S
// file, so that its signature is kept and the audit can explain its sequence number:
//   <transactionLate><transactionRequest>B64</transactionRequest>
//     <transactionResponse>B64</transactionResponse></transactionLate>
// (reports: reportLate, reportRequest, reportResponse). A late refusal keeps its status word in
// <transactionRefused> / <reportRefused> instead of the response.

#include <string>
#include <string_view>

#include "common/bytes.h"
#include "journal/journal.h"
#include "protocol/card_link.h"

namespace kasse {

// "transaction" or "report".
std::string LateRecord(std::string_view kind, ByteSpan request, const CardAnswer& answer);

// The handler that writes the late record of `request` into the S file of `journal`.
LateAnswer JournalLateAnswer(Journal& journal, std::string kind, ByteSpan request);

}  // namespace kasse
