#include "card/card_session.h"

#include <algorithm>
#include <cstdio>

#include "common/base_n.h"
#include "common/hex_text.h"

namespace kasse {
namespace {

std::string HexDigits(unsigned value, int digits) {
  char text[9] = {};
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

Error Busy() {
  return MakeError(ErrorKind::kBusy, "another card operation is running");
}

}  // namespace

CardSession::CardSession(CardExchange& exchange, std::function<Clock::time_point()> now)
    : exchange_(exchange), connector_(exchange.Connector()), now_(std::move(now)) {
  processMessages_ = [this] { connector_.ProcessPendingEvents(); };
  exchange_.OnUnanswered = [this] { CardStoppedAnswering(); };
}

CardSession::~CardSession() {
  exchange_.OnUnanswered = nullptr;
  connector_.OnCardInserted = nullptr;
  connector_.OnCardRemoved = nullptr;
}

Result<std::string> CardSession::SendAccepted(std::string_view command) {
  const Result<ApduAnswer> answer = exchange_.CardApdu(command);
  if (!answer) return answer.error();
  if (!answer->Accepted())
    return MakeError(ErrorKind::kCard, "the card refused the command with " + answer->statusWord);
  return answer->data;
}

Result<void> CardSession::StartCard() {
  if (cardBusy_) return Busy();
  connector_.Disconnect();
  cardBusy_ = true;
  connector_.Init();
  cardBusy_ = false;
  Log("Start-Card", kMonitorBlue);
  cardBusy_ = true;
  connector_.Open();
  Log("Anzahl der angeschlossenen Leser " +
          HexDigits(static_cast<unsigned>(connector_.NumReaders()), 2),
      kMonitorDarkRed);
  if (connector_.NumReaders() == 0) {
    cardBusy_ = false;
    // Without a service there is no reader either; the service is the cause to name.
    return FaultError(connector_.LastFault() == CardFault::kServiceStopped
                          ? CardFault::kServiceStopped
                          : CardFault::kNoReaders);
  }
  Result<void> result = ScanReaders();
  cardBusy_ = false;
  connector_.OnCardRemoved = [this] { pcsc2CardRemoved(); };
  connector_.OnCardInserted = [this] { pcsc2CardInserted(true); };
  if (result) pcsc2CardInserted(false);
  return result;
}

Result<void> CardSession::ScanReaders() {
  const Error noQor = MakeError(ErrorKind::kCard, "no QOR card found or the card does not answer");
  const int count = connector_.NumReaders();
  for (int i = 0; i < count; ++i) {
    const bool last = i == count - 1;
    connector_.SetUseReaderNum(i);
    const std::string name = connector_.SelectedReader();
    Log("Teste Leseger\xE4t ", kMonitorDarkRed);
    Log(name, kMonitorDarkRed);
    bool failed = false;
    if (!connector_.Open() || !connector_.Connect()) {
      Log("Leseger\xE4t kann nicht ge\xF6"
          "ffnet werden ",
          kMonitorRed);
      failed = true;
    } else if (connector_.AttrCardATR().empty()) {
      Log("Verbindung zur Karte kann nicht hergestellt werden ", kMonitorRed);
      failed = true;
    }
    if (!failed) {
      if (SelectApplication()) {
        Log("QOR gefunden in " + name, kMonitorDarkRed);
        return {};
      }
      Log("keine QOR in " + name, kMonitorDarkRed);
      if (last) Log("Verbindung zur Karte kann nicht hergestellt werden ", kMonitorRed);
    }
    if (last) return noQor;
    connector_.CloseReader();
  }
  return noQor;
}

bool CardSession::SelectApplication() {
  Log("QOR-Anwendung ausw\xE4hlen", kMonitorBlue);
  return SendAccepted(kSelectApplication).has_value();
}

bool CardSession::ReadCardStatus() {
  Log("QOR-Status", kMonitorBlue);
  const Result<std::string> data = SendAccepted(kGetCardStatus);
  if (!data) return false;
  state_.LastResponse = *data;
  // A status answer that ends early leaves the known state as it was; hash length and
  // algorithms belong to the card just read, so a level-1 card shows none.
  Result<CardState> parsed = ParseCardStatus(HexParse(*data), languageCode_);
  if (!parsed) return false;
  parsed->Certificate = state_.Certificate;
  parsed->LastResponse = state_.LastResponse;
  state_ = std::move(*parsed);
  if (state_.VersionLevel > 1) ReadHashParameters();
  return true;
}

void CardSession::ReadHashParameters() {
  Log("GET DATA Hash Length", kMonitorBlue);
  if (const Result<std::string> data = SendAccepted(kGetHashLength)) {
    state_.LastResponse = *data;
    const Bytes bytes = HexParse(*data);
    if (bytes.size() >= 3) state_.HashLength = std::to_string(bytes[2]);
  }
  Log("GET DATA Cryptographic Algorithms", kMonitorBlue);
  if (const Result<std::string> data = SendAccepted(kGetAlgorithms)) {
    state_.LastResponse = *data;
    if (auto algorithms = ParseAlgorithms(HexParse(*data))) state_.Algorithms = *algorithms;
  }
}

Result<Bytes> CardSession::ReadCertificate(std::size_t capacity) {
  if (cardBusy_) return Busy();
  if (const Result<std::string> selected = SendAccepted(kSelectCertificateFile); !selected)
    return selected.error();
  Log("Lese Zertifikat", kMonitorBlue);
  std::size_t offset = 0;
  std::size_t total = 0;
  std::string le = "00";
  Bytes collected;
  do {
    if (offset > 0x7FFF)
      return MakeError(ErrorKind::kTooLong, "the certificate file is too long to read");
    // ISO 7816-4 READ BINARY: CLA 00, INS B0, P1 P2 = offset, Le.
    const std::string command = "00 b0 " + HexDigits(static_cast<unsigned>(offset), 4) + " " + le;
    const Result<std::string> data = SendAccepted(command);
    if (!data) return data.error();
    const Bytes block = HexParse(*data);
    // No progress: the file ends before its stated length.
    if (block.empty())
      return MakeError(ErrorKind::kMalformed, "the certificate file ends early", offset);
    collected.insert(collected.end(), block.begin(), block.end());
    if (total == 0) {
      if (block.size() < 4)
        return MakeError(ErrorKind::kMalformed, "the certificate file has no length");
      total = (std::size_t{block[2]} << 8 | block[3]) + 4;
      if (total > capacity)
        return MakeError(ErrorKind::kTooLong,
                         "the certificate is longer than " + std::to_string(capacity) + " bytes");
    }
    offset += block.size();
    if (offset + block.size() - 1 >= total && offset < total && total - offset <= 0xFF)
      le = HexDigits(static_cast<unsigned>(total - offset), 2);
  } while (offset < total);
  collected.resize(total);
  return collected;
}

bool CardSession::LoadCertificate() {
  const Result<Bytes> certificate = ReadCertificate();
  if (!certificate) return false;
  state_.Certificate = Base64Encode(*certificate);
  return true;
}

Result<Sha1Digest> CardSession::HashOnCard(ByteSpan data) {
  if (cardBusy_) return Busy();
  std::string text;
  text.reserve(data.size() * 3);
  for (Byte b : data)
    text += HexDigits(b, 2) + " ";
  // The chain of commands; the answer of the last one is the hash.
  auto chain = [&]() -> Result<std::string> {
    if (const Result<std::string> selected = SendAccepted(kSelectCertificateFile); !selected)
      return selected.error();
    Log("Berechne Hash", kMonitorBlue);
    constexpr std::size_t kBlockText = kHashBlock * 3;
    std::size_t position = 0;
    while (text.size() - position > kBlockText) {
      // ISO 7816-4 command chaining: CLA bit 0x10 says more blocks follow.
      const Result<std::string> block =
          SendAccepted("10 2A 90 80 80" + text.substr(position, kBlockText) + " 00");
      if (!block) return block.error();
      position += kBlockText;
      if (processMessages_) processMessages_();
    }
    const std::size_t rest = text.size() - position;
    const std::string lc = HexDigits(static_cast<unsigned>(rest / 3), 2);
    return SendAccepted("00 2A 90 80 " + lc + text.substr(position) + " 00");
  };
  cardBusy_ = true;
  const Result<std::string> answer = chain();
  cardBusy_ = false;
  if (!answer) return answer.error();
  const Bytes hash = HexParse(StripBlanks(*answer));
  Sha1Digest digest{};
  if (hash.size() != digest.size())
    return MakeError(ErrorKind::kMalformed,
                     "the card's hash is " + std::to_string(hash.size()) + " bytes, not 20");
  std::copy(hash.begin(), hash.end(), digest.begin());
  return digest;
}

std::vector<std::string> CardSession::QORStateClick() {
  ReadCardStatus();
  return StatusValues(state_);
}

JournalCardParameters CardSession::JournalParameters() {
  if (state_.Certificate.empty()) LoadCertificate();
  return {state_.Version, state_.TpId, state_.TpIdNo, state_.Certificate};
}

}  // namespace kasse
