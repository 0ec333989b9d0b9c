#include "protocol/late_answer.h"

#include <cstdio>

#include "common/base_n.h"
#include "common/hex_text.h"

namespace kasse {

std::optional<std::string> LateRecord(std::string_view kind, ByteSpan request,
                                      const std::string& answer) {
  const Bytes bytes = HexParse(StripBlanks(answer));
  // Nothing came back: the request stays a request without an answer.
  if (bytes.size() < 2) return std::nullopt;
  const std::string name(kind);
  std::string record =
      "<" + name + "Late><" + name + "Request>" + Base64Encode(request) + "</" + name + "Request>";
  const Byte sw1 = bytes[bytes.size() - 2];
  const Byte sw2 = bytes.back();
  if (sw1 == 0x90 && sw2 == 0x00) {
    const ByteSpan data(bytes.data(), bytes.size() - 2);
    record += "<" + name + "Response>" + Base64Encode(data) + "</" + name + "Response>";
  } else {
    char status[5];
    std::snprintf(status, sizeof status, "%02X%02X", sw1, sw2);
    record += "<" + name + "Refused>" + status + "</" + name + "Refused>";
  }
  return record + "</" + name + "Late>";
}

LateAnswer JournalLateAnswer(Journal& journal, std::string kind, ByteSpan request) {
  return [&journal, kind = std::move(kind),
          request = Bytes(request.begin(), request.end())](const std::string& answer) {
    if (std::optional<std::string> record = LateRecord(kind, request, answer))
      (void)journal.WriteRecord(kJournalS, *record);  // a failure stays held and is retried
  };
}

}  // namespace kasse
