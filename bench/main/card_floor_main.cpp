// card-floor: the bare card's transaction rate, the floor the register is compared with.
// Prints one JSON object; exit status 0 when every command was signed.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "bench/card_floor.h"
#include "bench/sample_sale.h"
#include "common/amount.h"

namespace {

constexpr const char* kUsage =
    "Usage: card-floor --path pcsc|embedded --count N --scratch DIR [--state FILE]\n"
    "  pcsc      through pcscd to the card in the first vpcd reader (qor-sim)\n"
    "  embedded  to the simulated card in this process, kept in FILE (default DIR/card.state)\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kasse;
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string path, scratch, state;
  std::int64_t count = 0;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--path") path = args[i + 1];
    if (args[i] == "--scratch") scratch = args[i + 1];
    if (args[i] == "--state") state = args[i + 1];
    if (args[i] == "--count") {
      const Result<std::int64_t> number = ParseInteger(args[i + 1]);
      count = number ? *number : 0;
    }
  }
  if ((path != "pcsc" && path != "embedded") || scratch.empty() || count < 1 ||
      args.size() % 2 != 0) {
    std::cerr << kUsage;
    return 2;
  }
  const Result<Bytes> command = bench::SampleTransactionCommand(scratch);
  if (!command) {
    std::cerr << "card-floor: " << command.error().English() << "\n";
    return 2;
  }
  bench::FloorRun run;
  if (path == "pcsc") {
    bench::PcscTransport card;
    if (Result<void> connected = card.Connect(std::chrono::seconds(10)); !connected) {
      std::cerr << "card-floor: " << connected.error().English() << "\n";
      return 3;
    }
    run = bench::RunFloor([&](ByteSpan c) { return card.Transmit(c); }, *command,
                          static_cast<int>(count));
  } else {
    sim::EngineOptions options;
    options.stateFile = state.empty() ? std::filesystem::path(scratch) / "card.state"
                                      : std::filesystem::path(state);
    bench::EmbeddedTransport card(options);
    run = bench::RunFloor([&](ByteSpan c) { return card.Transmit(c); }, *command,
                          static_cast<int>(count));
  }
  std::printf("{\"path\": \"%s\", \"signed\": %d, \"seconds\": %.6f, \"rate\": %.3f}\n",
              path.c_str(), run.signedCount, run.seconds, run.Rate());
  if (!run.failure.empty()) {
    std::cerr << "card-floor: " << run.failure << "\n";
    return 1;
  }
  return 0;
}
