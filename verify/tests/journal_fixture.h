#pragma once
// Journals made in the test: a simulated card signs real TRANSACTION and report commands and
// the records are written the way the register journals them.

#include <string>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "common/payload_filter.h"
#include "journal/journal.h"
#include "sim/qor_engine.h"
#include "sim/tlv.h"

namespace kasse::testing {

class JournalMaker {
 public:
  // A card in memory, or one kept in files (a copy of its folder is a backup to put back).
  explicit JournalMaker(sim::EngineOptions options = {}) : card_(std::move(options)) {
    card_.Process(HexParse("00 A4 04 00 08 D2 76 00 01 48 51 4F 52"));
  }

  // One signed sale; returns its QR payload (filtered request and answer).
  Bytes Sale(std::int64_t cents, const std::string& operatorId = "ich") {
    const Bytes data = SaleRequest(cents, operatorId);
    const Bytes answer = Exchange(0x40, 0x00, data);
    s_ += "<transactionEncoded><itemListEncoded>eA==</itemListEncoded><transactionRequest>" +
          Base64Encode(data) + "</transactionRequest><transactionResponse>" + Base64Encode(answer) +
          "</transactionResponse></transactionEncoded>";
    l_ +=
        "<transaction><date>12.05.2026</date><itemList><item><name>A<tpId>B</name></item>"
        "</itemList><hashTransactionItems>" +
        std::string(40, 'A') + "</hashTransactionItems>" + CardFields(answer, "seqNoTransaction") +
        "</transaction>";
    Bytes payload = data;
    payload.insert(payload.end(), answer.begin(), answer.end());
    FilterPayload(payload);
    return payload;
  }

  void DailyClosing(bool signedClosing = true) {
    const Bytes data = HexParse("CD 04 20 26 05 12 CE 02 18 00");
    const Bytes answer = Exchange(0x42, signedClosing ? 0x01 : 0x02, data);
    s_ += "<reportEncoded><reportRequest>" + Base64Encode(data) +
          "</reportRequest><reportResponse>" + Base64Encode(answer) +
          "</reportResponse></reportEncoded>";
    l_ += "<report><lifeCycle>03</lifeCycle>" + CardFields(answer, "seqNoReport") + "</report>";
  }

  // A request journalled just before a crash: the card answered, the journal never got it.
  // Returns the record the answer would have made late: <transactionLate>...</transactionLate>.
  std::string Unanswered() {
    Bytes data = HexParse("CD 04 20 26 05 12 CE 02 09 30 C6 01 78 C7 14");
    data.resize(data.size() + 20, static_cast<Byte>(++unanswered_));
    const Bytes answer = Exchange(0x40, 0x00, data);
    s_ += "<transactionEncoded><itemListEncoded>eA==</itemListEncoded><transactionRequest>" +
          Base64Encode(data) + "</transactionRequest></transactionEncoded>";
    l_ += "<transaction><date>12.05.2026</date></transaction>";
    return "<transactionLate><transactionRequest>" + Base64Encode(data) +
           "</transactionRequest><transactionResponse>" + Base64Encode(answer) +
           "</transactionResponse></transactionLate>";
  }

  // A sale whose answer the register refused: the card answered a number it had given before
  // (a card put back from a backup). The answer is kept as evidence; the L record has no card
  // fields. Returns the answer.
  Bytes Rejected(std::int64_t cents) {
    const Bytes data = SaleRequest(cents, "ich");
    const Bytes answer = Exchange(0x40, 0x00, data);
    (void)CardFields(answer, "seqNoTransaction");  // the card's name for the parameter block
    s_ += "<transactionEncoded><itemListEncoded>eA==</itemListEncoded><transactionRequest>" +
          Base64Encode(data) + "</transactionRequest><transactionRejected>" + Base64Encode(answer) +
          "</transactionRejected></transactionEncoded>";
    l_ += "<transaction><date>12.05.2026</date></transaction>";
    return answer;
  }

  // A signed daily closing whose answer the register refused.
  void RejectedClosing() {
    const Bytes data = HexParse("CD 04 20 26 05 12 CE 02 18 01");
    const Bytes answer = Exchange(0x42, 0x01, data);
    s_ += "<reportEncoded><reportRequest>" + Base64Encode(data) +
          "</reportRequest><reportRejected>" + Base64Encode(answer) +
          "</reportRejected></reportEncoded>";
    l_ += "<report><lifeCycle>03</lifeCycle></report>";
  }

  // A sale the card refused with a status word: nothing signed, no number used.
  void Refused(const std::string& statusWord = "6985") {
    const Bytes data = HexParse("CD 04 20 26 05 12 CE 02 09 30 C6 01 78");
    s_ += "<transactionEncoded><itemListEncoded>eA==</itemListEncoded><transactionRequest>" +
          Base64Encode(data) + "</transactionRequest><transactionRefused>" + statusWord +
          "</transactionRefused></transactionEncoded>";
    l_ += "<transaction><date>12.05.2026</date></transaction>";
  }

  std::string Params() const {
    return "<qorParams><qorVersion>T.2.0</qorVersion><tpId>" + tpId_ + "</tpId><tpIdNo>" + tpIdNo_ +
           "</tpIdNo><itemProfile>1</itemProfile><certificate>" +
           Base64Encode(card_.CardCertificate()) + "</certificate></qorParams>";
  }
  std::string S(bool closed = true) const { return Frame(s_, closed); }
  std::string L(bool closed = true) const { return Frame(l_, closed); }
  std::string& RawS() { return s_; }
  std::string& RawL() { return l_; }
  Bytes Certificate() const { return card_.CardCertificate(); }
  // The issuer of this card's certificate.
  Bytes Issuer() const { return card_.CaCertificate(); }

 private:
  static Bytes SaleRequest(std::int64_t cents, const std::string& operatorId) {
    Bytes inner;
    AppendElementTo(inner, 0xD8, PackSignedAmount(cents));
    AppendElementTo(inner, 0xDB, HexParse("19 00"));
    Bytes data = HexParse("CD 04 20 26 05 12 CE 02 09 30");
    AppendElementTo(data, 0xC6, Bytes(operatorId.begin(), operatorId.end()));
    AppendElementTo(data, 0xC7, Bytes(20, 0xAB));
    AppendElementTo(data, 0xC8, HexParse("03 D2"));
    AppendElementTo(data, 0xE1, inner);
    return data;
  }
  static void AppendElementTo(Bytes& out, Byte tag, const Bytes& value) {
    sim::AppendElement(out, tag, value);
  }
  Bytes Exchange(Byte ins, Byte p1, const Bytes& data) {
    Bytes command{0x80, ins, p1, 0x00, static_cast<Byte>(data.size())};
    command.insert(command.end(), data.begin(), data.end());
    command.push_back(0x00);
    Bytes answer = card_.Process(command);
    answer.resize(answer.size() >= 2 ? answer.size() - 2 : 0);
    return answer;
  }
  std::string CardFields(const Bytes& answer, const std::string& seqName) {
    std::string fields;
    const auto elements = sim::SplitElements(answer);
    if (!elements) return fields;
    for (const sim::Element& e : *elements) {
      std::uint64_t number = 0;
      for (Byte b : e.value)
        number = number << 8 | b;
      if (e.tag == 0xC4) tpId_.assign(e.value.begin(), e.value.end());
      if (e.tag == 0xC4) fields += "<tpId>" + tpId_ + "</tpId>";
      if (e.tag == 0xC5) tpIdNo_ = std::to_string(number);
      if (e.tag == 0xC5) fields += "<tpIdNo>" + tpIdNo_ + "</tpIdNo>";
      if (e.tag == 0xCB || e.tag == 0xCC) {
        fields += "<" + seqName + ">" + std::to_string(number) + "</" + seqName + ">";
      }
      if (e.tag == 0x9E) fields += "<sig>" + HexCompact(e.value) + "</sig>";
    }
    return fields;
  }
  std::string Frame(const std::string& records, bool closed) const {
    return std::string(kJournalHeader) + Params() + records +
           (closed ? std::string(kJournalClosingTag) : std::string());
  }

  sim::QorEngine card_{sim::EngineOptions{}};
  std::string s_, l_, tpId_ = "?", tpIdNo_ = "?";
  int unanswered_ = 0;
};

// The receipt's payload as the t1 parameter of its verification link: URL-safe Base64.
inline std::string T1(const Bytes& payload) {
  std::string text = Base64Encode(payload);
  for (char& c : text)
    c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

}  // namespace kasse::testing
