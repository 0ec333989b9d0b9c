#include "sim/qor_engine.h"

#include "common/files.h"
#include "sim/apdu.h"
#include "sim/card_core.h"
#include "sim/card_issuing.h"

namespace kasse::sim {
namespace {

Result<CardState> NewCard(const EngineOptions& options) {
  CardState state;
  state.lifecycle = static_cast<Byte>(options.startLifecycle);
  state.transportPin = options.transportPin;
  auto issued = IssueCard(options, state);
  if (!issued) return issued.error();
  if (options.startLifecycle == Lifecycle::kActivated) state.firstMonth = CurrentMonth();
  return state;
}

// Reads the kept card, or makes a new one when there is no state file yet. A damaged file is
// an error, never a fresh card: that would give sequence numbers a second time.
Result<CardState> LoadCard(const EngineOptions& options) {
  if (options.stateFile.empty()) return NewCard(options);
  std::error_code error;
  if (!std::filesystem::exists(options.stateFile, error) && !error) {
    auto state = NewCard(options);
    if (!state) return state;
    auto written =
        WriteFileAtomic(options.stateFile, SerializeState(*state), Durability::kSyncAndRename);
    if (!written) return written.error();
    return state;
  }
  auto text = ReadFile(options.stateFile);
  if (!text) return text.error();
  auto state = ParseState(*text);
  if (!state) return state;
  auto renewed = RecertifyCard(options, *state);
  if (!renewed) return renewed.error();
  if (*renewed) {
    auto written =
        WriteFileAtomic(options.stateFile, SerializeState(*state), Durability::kSyncAndRename);
    if (!written) return written.error();
  }
  return state;
}

}  // namespace

QorEngine::QorEngine(EngineOptions options) : options_(std::move(options)) {
  auto state = LoadCard(options_);
  if (!state) {
    startError_ = state.error();
    return;
  }
  core_ = std::make_unique<CardCore>(options_, std::move(state.value()));
}

QorEngine::~QorEngine() = default;

Bytes QorEngine::Process(ByteSpan command) {
  if (!core_) return Answer(kSwNoDiagnosis);
  const auto apdu = ParseApdu(command);
  if (!apdu) return Answer(kSwWrongLength);
  const Byte cla = apdu->cla;
  const Byte ins = apdu->ins;
  if (cla != 0x00 && cla != 0x10 && cla != 0x80) return Answer(kSwUnknownClass);
  if (cla == 0x10 && ins != 0x2A) return Answer(kSwNoChaining);
  const bool isoClass = cla == 0x00 || cla == 0x10;
  const bool known = ins == 0xA4 || ins == 0xB0 || ins == 0xCA || ins == 0x2A || ins == 0x40 ||
                     ins == 0x42 || ins == 0x44;
  if (!known) return Answer(kSwUnknownIns);
  if (ins == 0xA4 && isoClass) return core_->Select(*apdu);
  if (!core_->ApplicationSelected()) return Answer(kSwConditions);
  if (isoClass) {
    if (ins == 0xB0) return core_->ReadBinary(*apdu);
    if (ins == 0xCA) return core_->GetData(*apdu);
    if (ins == 0x2A) return core_->Hash(*apdu);
    return Answer(kSwUnknownClass);
  }
  if (ins == 0x40) return core_->Transaction(*apdu);
  if (ins == 0x42) return core_->Report(*apdu);
  if (ins == 0x44) return core_->VerifySignature(*apdu);
  return Answer(kSwUnknownClass);
}

// T=1 card; the historical bytes name it. TCK is the XOR of T0 up to the last byte.
Bytes QorEngine::Atr() const {
  constexpr std::string_view kName = "QOR-SIM";
  Bytes atr;
  atr.reserve(kName.size() + 4);
  atr.push_back(0x3B);
  atr.push_back(static_cast<Byte>(0x80 | kName.size()));
  atr.push_back(0x01);
  for (const char c : kName)
    atr.push_back(static_cast<Byte>(c));
  Byte check = 0;
  for (std::size_t i = 1; i < atr.size(); ++i)
    check ^= atr[i];
  atr.push_back(check);
  return atr;
}

void QorEngine::Reset() {
  if (core_) core_->PowerCycle();
}

Bytes QorEngine::CardCertificate() const {
  return core_ ? core_->State().keys.certificate : Bytes{};
}

Bytes QorEngine::CaCertificate() const {
  return core_ ? core_->State().keys.caCertificate : Bytes{};
}

}  // namespace kasse::sim
