// Micro-benchmarks of the register's steps for one sale: item encoding, the record, the QR
// payload, the journal writes, the card's own TRANSACTION; and the physical floor of a card:
// a round trip over pcscd, one signature with the key object made once, one durable append.
// Scratch files go to $KASSE_BENCH_SCRATCH (default: a folder below the working folder).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/card_floor.h"
#include "bench/sample_sale.h"
#include "common/files.h"
#include "protocol/qr_payload.h"
#include "sim/books_log.h"
#include "sim/card_crypto.h"
#include "sim/card_signer.h"
#include "sim/qor_engine.h"
#include "sim/test_issuer.h"

namespace kasse::bench {
namespace {

std::filesystem::path Scratch(const std::string& name) {
  const char* root = std::getenv("KASSE_BENCH_SCRATCH");
  const std::filesystem::path folder =
      std::filesystem::path(root != nullptr ? root : "bench-scratch") / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// The register's texts, from the home the build puts beside the programs.
std::filesystem::path LanguageFile() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path() / "cfg" / "lang.ini";
}

// The answer of an in-memory card to the sample command.
Bytes SampleAnswer(const Bytes& command) {
  sim::QorEngine card(sim::EngineOptions{});
  (void)card.Process(SelectQor());
  return card.Process(command);
}

void EncodeItem(benchmark::State& state) {
  SampleSale sale(Scratch("encode"), LanguageFile());
  for (auto _ : state) {
    sale.EncodePositions();
    if (sale.Monitor().Text().size() > (1u << 20)) sale.Monitor().Clear();
  }
  state.SetItemsProcessed(state.iterations() * kSamplePositions);
}
BENCHMARK(EncodeItem);

// BuildTransaction without a signer: the record, its monitor lines and its journal writes.
void RecordBuild(benchmark::State& state) {
  SampleSale sale(Scratch("record"), LanguageFile());
  for (auto _ : state) {
    state.PauseTiming();
    sale.EncodePositions();
    state.ResumeTiming();
    if (!sale.BuildRecord()) state.SkipWithError("the record was refused");
  }
}
BENCHMARK(RecordBuild);

void FilterAndUrl(benchmark::State& state) {
  const Result<Bytes> command = SampleTransactionCommand(Scratch("filter"));
  if (!command) return state.SkipWithError(command.error().English().c_str());
  const Bytes answer = SampleAnswer(*command);
  const ByteSpan data = ByteSpan(*command).subspan(5, command->size() - 6);
  QrPayload payload;
  for (auto _ : state) {
    payload.QRAppend(data);
    payload.QRAppend(ByteSpan(answer).first(answer.size() - 2));
    benchmark::DoNotOptimize(payload.BuildVerifyUrl("127.0.0.1:8080"));
  }
}
BENCHMARK(FilterAndUrl);

// The journal text of one signed transaction, written as the register writes it: unbuffered,
// one write per element (the text is cut after every closing tag).
std::vector<std::string> ElementWrites(const std::string& text) {
  std::vector<std::string> writes;
  std::size_t start = 0;
  for (std::size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 2)) {
    const std::size_t end = text.find('>', at);
    if (end == std::string::npos) break;
    writes.push_back(text.substr(start, end + 1 - start));
    start = end + 1;
  }
  if (start < text.size()) writes.push_back(text.substr(start));
  return writes;
}

// One record into a journal of its own, then its S and L texts after the parameter block;
// durable: synced as the signing exchange does (the S file before the command, both after the
// answer), so the difference to the plain run is the cost of the two syncs per sale.
void WriteJournalRecords(benchmark::State& state, bool durable) {
  const std::filesystem::path source = Scratch("journal-source");
  std::string s, l;
  {
    SampleSale sale(source);
    sale.EncodePositions();
    if (!sale.BuildRecord()) return state.SkipWithError("the record was refused");
    if (!sale.JournalFiles().Flush()) return state.SkipWithError("the journal cannot be written");
    const Result<std::string> sText = ReadFile(sale.JournalFiles().SName());
    const Result<std::string> lText = ReadFile(sale.JournalFiles().LName());
    if (!sText || !lText) return state.SkipWithError("the journal cannot be read");
    s = sText->substr(sText->rfind("</qorParams>") + 12);
    l = lText->substr(lText->rfind("</qorParams>") + 12);
    // The signing exchange's part, with an answer of the usual size.
    const Bytes answer = SampleAnswer(sale.TransactionCommand());
    s += "<transactionRequest>" + std::string(84, 'A') + "</transactionRequest>";
    s += "<transactionResponse>" + std::string(((answer.size() + 2) / 3) * 4, 'A') +
         "</transactionResponse></transactionEncoded>";
    l += "<tpId>QOR</tpId><tpIdNo>1</tpIdNo><seqNoTransaction>1</seqNoTransaction><sig>" +
         std::string(96, 'F') + "</sig></transaction>";
  }
  const std::vector<std::string> sWrites = ElementWrites(s), lWrites = ElementWrites(l);
  Journal journal(Scratch("journal"), [] { return std::string("260512"); });
  if (!journal.OpenJournalPair()) return state.SkipWithError("the journal cannot be opened");
  if (durable && !journal.Sync()) return state.SkipWithError("the journal cannot be synced");
  for (auto _ : state) {
    for (const std::string& text : sWrites)
      (void)journal.JournalWrite(kJournalS, JournalSection::kRecord, text);
    if (durable) (void)journal.Sync(kJournalS);
    for (const std::string& text : lWrites)
      (void)journal.JournalWrite(kJournalL, JournalSection::kRecord, text);
    (void)(durable ? journal.Sync(kJournalBoth) : journal.Flush());
    if (state.iterations() % 1000 == 0) journal.ResetExportBuffers();
  }
  state.counters["writes"] = static_cast<double>(sWrites.size() + lWrites.size());
}

void JournalTransaction(benchmark::State& state) {
  WriteJournalRecords(state, false);
}
BENCHMARK(JournalTransaction);

void JournalTransactionDurable(benchmark::State& state) {
  WriteJournalRecords(state, true);
}
BENCHMARK(JournalTransactionDurable);

// The card's TRANSACTION: signature, and with a state file its durable write (arg 1).
void EngineTransaction(benchmark::State& state) {
  const std::filesystem::path folder = Scratch("engine");
  const Result<Bytes> command = SampleTransactionCommand(folder);
  if (!command) return state.SkipWithError(command.error().English().c_str());
  sim::EngineOptions options;
  if (state.range(0) != 0) options.stateFile = folder / "card.state";
  sim::QorEngine card(options);
  (void)card.Process(SelectQor());
  for (auto _ : state) {
    const Bytes answer = card.Process(*command);
    if (answer.size() < 2 || answer[answer.size() - 2] != 0x90)
      return state.SkipWithError("the card did not sign");
  }
}
BENCHMARK(EngineTransaction)->ArgName("stateFile")->Arg(0)->Arg(1);

// Physical floor: one ECDSA brainpoolP192r1 / SHA-256 signature of a transaction's signed bytes
// (about 300), with the key, digest and contexts made once.
void PhysicalSignature(benchmark::State& state) {
  auto issuer = sim::TestIssuer::ThrowAway();
  if (!issuer) return state.SkipWithError(issuer.error().English().c_str());
  const auto keys = sim::CreateCardKeys(*issuer, "QOR-SIM", 1);
  if (!keys) return state.SkipWithError(keys.error().English().c_str());
  auto signer = sim::CardSigner::FromDer(keys->privateKey);
  if (!signer) return state.SkipWithError(signer.error().English().c_str());
  const Bytes message(300, 0x5A);
  for (auto _ : state) {
    if (!signer->Sign(message)) return state.SkipWithError("no signature");
  }
}
BENCHMARK(PhysicalSignature);

// Physical floor: one record of a card's size appended and made durable with fdatasync, on the
// filesystem of the bench's cards.
void PhysicalDurableAppend(benchmark::State& state) {
  const std::filesystem::path folder = Scratch("append");
  const sim::CardPaths paths(folder / "card.state");
  std::error_code ignored;
  std::filesystem::remove(paths.log, ignored);
  const auto reading = sim::BooksLog::Read(paths, false);
  if (!reading) return state.SkipWithError(reading.error().English().c_str());
  sim::LogAccess access;
  access.io = &PosixFileIo();
  auto log = sim::BooksLog::Open(paths, *reading, access);
  if (!log) return state.SkipWithError(log.error().English().c_str());
  const std::string record(200, 'r');
  for (auto _ : state) {
    if (!log->Append(record)) return state.SkipWithError("append failed");
    if (log->Records() >= 10'000) (void)log->Restart();
  }
}
BENCHMARK(PhysicalDurableAppend)->UseRealTime();

// GET DATA 01F1 through pcscd to qor-sim in the first vpcd reader (started by scripts/bench): the
// physical floor's APDU round trip.
void GetDataPcscd(benchmark::State& state) {
  PcscTransport card;
  if (Result<void> connected = card.Connect(std::chrono::seconds(5)); !connected)
    return state.SkipWithError(connected.error().English().c_str());
  const Result<Bytes> selected = card.Transmit(SelectQor());
  if (!selected) return state.SkipWithError(selected.error().English().c_str());
  Bytes getData = CommandBytes(cmd::kGetCardStatus);
  getData.push_back(cmd::kLeAll);
  for (auto _ : state) {
    const Result<Bytes> answer = card.Transmit(getData);
    if (!answer || answer->size() < 2) return state.SkipWithError("GET DATA failed");
  }
}
BENCHMARK(GetDataPcscd)->UseRealTime();

}  // namespace
}  // namespace kasse::bench

BENCHMARK_MAIN();
