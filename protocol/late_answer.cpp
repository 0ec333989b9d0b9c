#include "protocol/late_answer.h"

#include "common/base_n.h"

namespace kasse {

std::string LateRecord(std::string_view kind, ByteSpan request, const CardAnswer& answer) {
  const std::string name(kind);
  std::string record =
      "<" + name + "Late><" + name + "Request>" + Base64Encode(request) + "</" + name + "Request>";
  if (answer.Accepted()) {
    record += "<" + name + "Response>" + Base64Encode(answer.data) + "</" + name + "Response>";
  } else {
    record +=
        "<" + name + "Refused>" + StatusWordText(answer.statusWord) + "</" + name + "Refused>";
  }
  return record + "</" + name + "Late>";
}

LateAnswer JournalLateAnswer(Journal& journal, std::string kind, ByteSpan request) {
  return [&journal, kind = std::move(kind), request = Bytes(request.begin(), request.end())](
             const std::optional<CardAnswer>& answer) {
    // Nothing came back: the request stays a request without an answer.
    if (!answer) return;
    // A failure stays held and is retried.
    (void)journal.WriteRecord(kJournalS, LateRecord(kind, request, *answer));
  };
}

}  // namespace kasse
