#include "card/card_session.h"

#include <algorithm>
#include <cstdio>

#include "card/card_messages.h"
#include "common/base_n.h"
#include "common/card_commands.h"

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

Bytes GetData(CommandHeader header) {
  Bytes command = CommandBytes(header);
  command.push_back(cmd::kLeAll);
  return command;
}

Bytes SelectCertificateFile() {
  return CommandBytes(cmd::kSelectFile, cmd::kCertificateFile);
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

Result<Bytes> CardSession::SendAccepted(ByteSpan command) {
  Result<CardAnswer> answer = exchange_.Send(command);
  if (!answer) return answer.error();
  if (!answer->Accepted())
    return MakeError(ErrorKind::kCard,
                     "the card refused the command with " + StatusWordText(answer->statusWord));
  return std::move(answer->data);
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
  const Error noQor = MakeError(ErrorKind::kCard, card_msg::kNoCard);
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
  return SendAccepted(CommandBytes(cmd::kSelectApplication, cmd::kQorApplication)).has_value();
}

bool CardSession::ReadCardStatus() {
  Log("QOR-Status", kMonitorBlue);
  const Result<Bytes> data = SendAccepted(GetData(cmd::kGetCardStatus));
  if (!data) return false;
  state_.LastResponse = *data;
  // A status answer that ends early leaves the known state as it was; hash length and
  // algorithms belong to the card just read, so a level-1 card shows none.
  Result<CardState> parsed = ParseCardStatus(*data, languageCode_);
  if (!parsed) return false;
  parsed->Certificate = state_.Certificate;
  parsed->LastResponse = state_.LastResponse;
  state_ = std::move(*parsed);
  if (state_.VersionLevel > 1) ReadHashParameters();
  return true;
}

void CardSession::ReadHashParameters() {
  Log("GET DATA Hash Length", kMonitorBlue);
  if (const Result<Bytes> data = SendAccepted(GetData(cmd::kGetHashLength))) {
    state_.LastResponse = *data;
    if (data->size() >= 3) state_.HashLength = std::to_string((*data)[2]);
  }
  Log("GET DATA Cryptographic Algorithms", kMonitorBlue);
  if (const Result<Bytes> data = SendAccepted(GetData(cmd::kGetAlgorithms))) {
    state_.LastResponse = *data;
    if (auto algorithms = ParseAlgorithms(*data)) state_.Algorithms = *algorithms;
  }
}

Result<Bytes> CardSession::ReadCertificate(std::size_t capacity) {
  if (cardBusy_) return Busy();
  if (const Result<Bytes> selected = SendAccepted(SelectCertificateFile()); !selected)
    return selected.error();
  Log("Lese Zertifikat", kMonitorBlue);
  std::size_t offset = 0;
  std::size_t total = 0;
  Byte le = cmd::kLeAll;
  Bytes collected;
  do {
    if (offset > 0x7FFF)
      return MakeError(ErrorKind::kTooLong, "the certificate file is too long to read");
    // P1 P2: the offset.
    CommandHeader read = cmd::kReadBinary;
    read.p1 = static_cast<Byte>(offset >> 8);
    read.p2 = static_cast<Byte>(offset & 0xFF);
    Bytes command = CommandBytes(read);
    command.push_back(le);
    const Result<Bytes> block = SendAccepted(command);
    if (!block) return block.error();
    // No progress: the file ends before its stated length.
    if (block->empty())
      return MakeError(ErrorKind::kMalformed, "the certificate file ends early", offset);
    collected.insert(collected.end(), block->begin(), block->end());
    if (total == 0) {
      if (block->size() < 4)
        return MakeError(ErrorKind::kMalformed, "the certificate file has no length");
      total = (std::size_t{(*block)[2]} << 8 | (*block)[3]) + 4;
      if (total > capacity)
        return MakeError(ErrorKind::kTooLong,
                         "the certificate is longer than " + std::to_string(capacity) + " bytes");
    }
    offset += block->size();
    if (offset + block->size() - 1 >= total && offset < total && total - offset <= 0xFF)
      le = static_cast<Byte>(total - offset);
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
  // One block of the chain: header, Lc, the data, Le. Lc stands even before no data.
  const auto block = [](CommandHeader header, ByteSpan part) {
    Bytes command = CommandBytes(header);
    command.push_back(static_cast<Byte>(part.size()));
    command.insert(command.end(), part.begin(), part.end());
    command.push_back(cmd::kLeAll);
    return command;
  };
  // The chain of commands; the answer of the last one is the hash.
  auto chain = [&]() -> Result<Bytes> {
    if (const Result<Bytes> selected = SendAccepted(SelectCertificateFile()); !selected)
      return selected.error();
    Log("Berechne Hash", kMonitorBlue);
    CommandHeader more = cmd::kHash;
    more.cla |= cmd::kClaChainMore;
    std::size_t position = 0;
    while (data.size() - position > kHashBlock) {
      const Result<Bytes> sent = SendAccepted(block(more, data.subspan(position, kHashBlock)));
      if (!sent) return sent.error();
      position += kHashBlock;
      if (processMessages_) processMessages_();
    }
    return SendAccepted(block(cmd::kHash, data.subspan(position)));
  };
  cardBusy_ = true;
  const Result<Bytes> answer = chain();
  cardBusy_ = false;
  if (!answer) return answer.error();
  const Bytes& hash = *answer;
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
