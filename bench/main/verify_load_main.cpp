// verify-load: the verification service's floor and load, as scripts/bench measures them.
// Prints one JSON object.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bench/verify_load.h"
#include "common/amount.h"

namespace {

constexpr const char* kUsage =
    "Usage: verify-load prepare DIR\n"
    "       verify-load floor [--seconds S]\n"
    "       verify-load load --port P --t1-file FILE [--clients N] [--seconds S]\n"
    "prepare: an issuer, a card certificate and a receipt's t1 in DIR (for kavelo-verify serve\n"
    "         --certs DIR/certs --ca DIR/issuer.der)\n"
    "floor:   cores x 1 / the time of one ECDSA brainpoolP192r1 verification, key made once,\n"
    "         measured on every core at once\n"
    "load:    N clients with keep-alive connections asking for checks for S seconds\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kasse;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  bool badNumber = false;
  const auto readNumber = [&badNumber](const std::string& text, std::int64_t& value) {
    const Result<std::int64_t> number = ParseInteger(text);
    if (number) value = *number;
    badNumber = badNumber || !number;
  };
  std::int64_t port = 0, clients = 16, seconds = 5;
  std::string t1File;
  for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--port") readNumber(args[i + 1], port);
    if (args[i] == "--clients") readNumber(args[i + 1], clients);
    if (args[i] == "--seconds") readNumber(args[i + 1], seconds);
    if (args[i] == "--t1-file") t1File = args[i + 1];
  }
  if (badNumber) {
    std::cerr << "verify-load: --port, --clients and --seconds take whole numbers\n";
    return 2;
  }
  if (args[0] == "prepare" && args.size() == 2) {
    if (auto prepared = bench::PrepareVerifyReceipt(args[1]); !prepared) {
      std::cerr << "verify-load: " << prepared.error().English() << "\n";
      return 1;
    }
    std::printf("{\"folder\":\"%s\"}\n", args[1].c_str());
    return 0;
  }
  if (args[0] == "floor") {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const double floor =
        bench::VerificationFloor(static_cast<double>(seconds), static_cast<int>(cores));
    std::printf("{\"verify_us\":%.3f,\"cores\":%u,\"floor\":%.1f}\n",
                floor > 0 ? cores * 1e6 / floor : 0.0, cores, floor);
    return floor > 0 ? 0 : 1;
  }
  if (args[0] == "load" && port > 0 && !t1File.empty() && clients > 0) {
    std::string t1;
    std::ifstream(t1File) >> t1;
    const bench::LoadRun run = bench::RunVerifyLoad(
        static_cast<int>(port), t1, static_cast<int>(clients), static_cast<double>(seconds));
    std::printf("{\"rate\":%.1f,\"answered\":%zu,\"failed\":%zu,\"p50_ms\":%.3f,\"p99_ms\":%.3f}\n",
                run.Rate(), run.answered, run.failed, run.p50Milliseconds, run.p99Milliseconds);
    return run.answered > 0 && run.failed == 0 ? 0 : 1;
  }
  std::cerr << kUsage;
  return 2;
}
