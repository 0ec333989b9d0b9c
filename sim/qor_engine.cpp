#include "sim/qor_engine.h"

#include "common/files.h"
#include "sim/apdu.h"
#include "sim/card_core.h"
#include "sim/card_files.h"
#include "sim/card_issuing.h"
#include "sim/card_store.h"

namespace kasse::sim {
namespace {

// The one place where a new card gets its keys and certificate.
Result<LoadedCard> NewCard(const EngineOptions& options) {
  LoadedCard card;
  CardState& state = card.books;
  state.lifecycle = static_cast<Byte>(options.startLifecycle);
  state.transportPin = options.transportPin;
  auto issued = IssueCard(options, state, card.keys);
  if (!issued) return issued.error();
  if (options.startLifecycle == Lifecycle::kActivated) state.firstMonth = CurrentMonth();
  return card;
}

// The issuer's folder gets the same warning as the card's when it is another one.
void WarnOfIssuerFolder(const EngineOptions& options, const CardPaths& paths) {
  const std::filesystem::path folder = IssuerFolder(options);
  std::error_code error;
  if (folder.empty() || std::filesystem::equivalent(folder, paths.Folder(), error)) return;
  if (auto warning = LooseFolderWarning(folder, FolderUse::kSecrets)) {
    Say(options.onNotice, *warning);
  }
}

Result<std::unique_ptr<CardCore>> LoadCard(const EngineOptions& options) {
  LoadedCard card;
  std::unique_ptr<CardStore> store;
  if (options.stateFile.empty()) {
    auto made = NewCard(options);
    if (!made) return made.error();
    card = std::move(*made);
  } else {
    StoreAccess access{&EngineIo(options), options.onNotice, options.testSilentLogRepair};
    auto opened = CardStore::Open(
        options.stateFile, [&] { return NewCard(options); }, card, std::move(access));
    if (!opened) return opened.error();
    store = std::make_unique<CardStore>(std::move(*opened));
  }
  if (store) {
    // A card certified by a discarded CA gets its certificate anew before it answers.
    auto renewed = RecertifyCard(options, card.books, card.keys, store->Paths());
    if (!renewed) return renewed.error();
    if (*renewed) {
      auto written = ReplaceCardFile(EngineIo(options), store->Paths().cert,
                                     CertificateFileContents(card.keys));
      if (!written) return written.error();
    }
    WarnOfIssuerFolder(options, store->Paths());
  }
  auto signer = CardSigner::FromDer(card.keys.privateKey);
  if (!signer) return signer.error();
  return std::make_unique<CardCore>(options, std::move(card), std::move(*signer), std::move(store));
}

}  // namespace

QorEngine::QorEngine(EngineOptions options) : options_(std::move(options)) {
  auto core = LoadCard(options_);
  if (!core) {
    startError_ = core.error();
    return;
  }
  core_ = std::move(*core);
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
  return core_ ? core_->Keys().certificate : Bytes{};
}

Bytes QorEngine::CaCertificate() const {
  return core_ ? core_->Keys().caCertificate : Bytes{};
}

}  // namespace kasse::sim
