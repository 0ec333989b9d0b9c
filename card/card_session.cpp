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

int CardSession::SetNotifyTarget(CardSessionHost* host) {
  host_ = host;
  return 0;
}

void CardSession::Log(const char* text, MonitorColour colour) {
  exchange_.MonitorLabel(text, colour);
}

int CardSession::StartCard() {
  if (cardBusy_) return 1;
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
    return -2;
  }
  const int result = ScanReaders();
  cardBusy_ = false;
  connector_.OnCardRemoved = [this] { pcsc2CardRemoved(); };
  connector_.OnCardInserted = [this] { pcsc2CardInserted(true); };
  if (result == 0) pcsc2CardInserted(false);
  return result;
}

int CardSession::ScanReaders() {
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
        return 0;
      }
      Log("keine QOR in " + name, kMonitorDarkRed);
      if (last) Log("Verbindung zur Karte kann nicht hergestellt werden ", kMonitorRed);
    }
    if (last) return -1;
    connector_.CloseReader();
  }
  return -1;
}

bool CardSession::SelectApplication() {
  Log("QOR-Anwendung ausw\xE4hlen", kMonitorBlue);
  std::string data;
  return exchange_.SendHex(kSelectApplication, data);
}

bool CardSession::ReadCardStatus() {
  Log("QOR-Status", kMonitorBlue);
  std::string data;
  if (!exchange_.SendHex(kGetCardStatus, data)) return false;
  state_.LastResponse = data;
  // A status answer that ends early leaves the known state as it was; hash length and
  // algorithms belong to the card just read, so a level-1 card shows none.
  std::optional<CardState> parsed = ParseCardStatus(HexParse(data), languageCode_);
  if (!parsed) return false;
  parsed->Certificate = state_.Certificate;
  parsed->LastResponse = state_.LastResponse;
  state_ = std::move(*parsed);
  if (state_.VersionLevel > 1) ReadHashParameters();
  return true;
}

void CardSession::ReadHashParameters() {
  std::string data;
  Log("GET DATA Hash Length", kMonitorBlue);
  if (exchange_.SendHex(kGetHashLength, data)) {
    state_.LastResponse = data;
    const Bytes bytes = HexParse(data);
    if (bytes.size() >= 3) state_.HashLength = std::to_string(bytes[2]);
  }
  Log("GET DATA Cryptographic Algorithms", kMonitorBlue);
  if (exchange_.SendHex(kGetAlgorithms, data)) {
    state_.LastResponse = data;
    if (auto algorithms = ParseAlgorithms(HexParse(data))) state_.Algorithms = *algorithms;
  }
}

int CardSession::ReadCertificate(Bytes& certificate, std::size_t capacity) {
  certificate.clear();
  if (cardBusy_) return 1;
  std::string data;
  if (!exchange_.SendHex(kSelectCertificateFile, data)) return -1;
  Log("Lese Zertifikat", kMonitorBlue);
  std::size_t offset = 0;
  std::size_t total = 0;
  std::string le = "00";
  Bytes collected;
  do {
    // ISO 7816-4 READ BINARY: CLA 00, INS B0, P1 P2 = offset, Le.
    const std::string command = "00 b0 " + HexDigits(static_cast<unsigned>(offset), 4) + " " + le;
    if (offset > 0x7FFF || !exchange_.SendHex(command, data)) return -1;
    const Bytes block = HexParse(data);
    if (block.empty()) return -1;  // no progress: the file ends before its stated length
    collected.insert(collected.end(), block.begin(), block.end());
    if (total == 0) {
      if (block.size() < 4) return -1;
      total = (std::size_t{block[2]} << 8 | block[3]) + 4;
      if (total > capacity) return -1;
    }
    offset += block.size();
    if (offset + block.size() - 1 >= total && offset < total && total - offset <= 0xFF)
      le = HexDigits(static_cast<unsigned>(total - offset), 2);
  } while (offset < total);
  collected.resize(total);
  certificate = std::move(collected);
  return 0;
}

bool CardSession::LoadCertificate() {
  Bytes certificate;
  if (ReadCertificate(certificate) != 0) return false;
  state_.Certificate = Base64Encode(certificate);
  return true;
}

int CardSession::HashOnCard(ByteSpan data, Bytes& hash) {
  hash.clear();
  if (cardBusy_) return 1;
  std::string text;
  text.reserve(data.size() * 3);
  for (Byte b : data)
    text += HexDigits(b, 2) + " ";
  cardBusy_ = true;
  std::string answer;
  if (!exchange_.SendHex(kSelectCertificateFile, answer)) {
    cardBusy_ = false;
    return -1;
  }
  Log("Berechne Hash", kMonitorBlue);
  constexpr std::size_t kBlockText = kHashBlock * 3;
  std::size_t position = 0;
  while (text.size() - position > kBlockText) {
    // ISO 7816-4 command chaining: CLA bit 0x10 says more blocks follow.
    if (!exchange_.SendHex("10 2A 90 80 80" + text.substr(position, kBlockText) + " 00", answer)) {
      cardBusy_ = false;
      return -1;
    }
    position += kBlockText;
    if (processMessages_) processMessages_();
  }
  const std::size_t rest = text.size() - position;
  const std::string lc = HexDigits(static_cast<unsigned>(rest / 3), 2);
  if (!exchange_.SendHex("00 2A 90 80 " + lc + text.substr(position) + " 00", answer)) {
    cardBusy_ = false;
    return -1;
  }
  hash = HexParse(StripBlanks(answer));
  cardBusy_ = false;
  return 0;
}

std::optional<Sha1Digest> CardSession::HashOnCard(ByteSpan data) {
  Bytes hash;
  if (HashOnCard(data, hash) != 0) return std::nullopt;
  Sha1Digest digest{};
  if (hash.size() != digest.size()) return std::nullopt;
  std::copy(hash.begin(), hash.end(), digest.begin());
  return digest;
}

std::vector<std::string> CardSession::QORStateClick() {
  ReadCardStatus();
  std::vector<std::string> values = {state_.LifeCycle, state_.Version, state_.TpId, state_.TpIdNo};
  values.insert(values.end(), state_.statusItems.begin(), state_.statusItems.end());
  if (state_.VersionLevel > 1) {
    values.push_back(state_.HashLength);
    values.push_back(state_.Algorithms);
  }
  return values;
}

JournalCardParameters CardSession::JournalParameters() {
  if (state_.Certificate.empty()) LoadCertificate();
  return {state_.Version, state_.TpId, state_.TpIdNo, state_.Certificate};
}

}  // namespace kasse
