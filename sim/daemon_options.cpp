#include "sim/daemon_options.h"

#include <algorithm>
#include <cctype>

#include "common/amount.h"
#include "common/hex_text.h"

namespace kasse::sim {
namespace {

Error Usage(const std::string& message) {
  return MakeError(ErrorKind::kUnusableInput, message);
}

bool ReadNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  return ParseInteger(text, value) && value >= low && value <= high;
}

// INS:XXXX, both hexadecimal: "40:6581" answers every TRANSACTION with 65 81.
bool ReadStatusWord(const std::string& text, Faults& faults) {
  if (text.size() != 7 || text[2] != ':') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != 2 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  const Bytes ins = HexParse(text.substr(0, 2));
  const Bytes sw = HexParse(text.substr(3));
  if (ins.size() != 1 || sw.size() != 2) return false;
  faults.statusWordIns = ins[0];
  faults.statusWord = static_cast<std::uint16_t>((sw[0] << 8) | sw[1]);
  return true;
}

Result<void> ReadValued(const std::string& name, const std::string& value, DaemonOptions& o) {
  std::int64_t n = 0;
  constexpr std::int64_t kMax = 1'000'000'000;
  if (name == "--state") {
    o.engine.stateFile = value;
  } else if (name == "--export-cert") {
    o.exportCertificate = value;
  } else if (name == "--port" && ReadNumber(value, 1, 65535, n)) {
    o.link.port = static_cast<int>(n);
  } else if (name == "--version-level" && ReadNumber(value, 1, 2, n)) {
    o.engine.versionLevel = static_cast<int>(n);
  } else if (name == "--lifecycle" && ReadNumber(value, 2, 3, n)) {
    o.engine.startLifecycle = static_cast<Lifecycle>(n);
  } else if (name == "--pin" && value.size() == 6 &&
             std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    o.engine.transportPin = value;
  } else if (name == "--delay-ms" && ReadNumber(value, 0, 60'000, n)) {
    o.engine.signDelay = std::chrono::milliseconds(n);
  } else if (name == "--stall-ms" && ReadNumber(value, 0, 600'000, n)) {
    o.link.stall = std::chrono::milliseconds(n);
  } else if (name == "--fail-after" && ReadNumber(value, 0, kMax, n)) {
    o.faults.failAfter = static_cast<std::uint64_t>(n);
  } else if (name == "--reset-every" && ReadNumber(value, 1, kMax, n)) {
    o.faults.resetEvery = static_cast<std::uint64_t>(n);
  } else if (name == "--status-word" && ReadStatusWord(value, o.faults)) {
  } else {
    return Usage("bad value for " + name + ": " + value);
  }
  return {};
}

}  // namespace

Result<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args) {
  DaemonOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--debug-hash") {
      options.engine.debugHash = true;
    } else if (arg == "--truncate") {
      options.faults.truncate = true;
    } else if (arg.rfind("--", 0) == 0 && arg != "--") {
      if (i + 1 >= args.size()) return Usage("missing value for " + arg);
      auto read = ReadValued(arg, args[++i], options);
      if (!read) return read.error();
    } else {
      return Usage("unknown argument: " + arg);
    }
  }
  return options;
}

std::string DaemonUsage() {
  return R"(Usage: qor-sim [options]
The simulated QOR card on the vpcd reader of pcscd.

  --state FILE          keep the card in FILE and the files beside it (FILE.key, FILE.cert,
                        FILE.log, FILE.lock), created on first start (default: the user's
                        state folder, ~/.local/state/kasse/card-v2.state or card-v1.state)
  --port N              vpcd port on 127.0.0.1 (default 35963)
  --version-level 1|2   card version "T.1.1" or "T.2.0" (default 2)
  --lifecycle 2|3       lifecycle of a new card: 2 personalised, 3 activated (default 3)
  --pin NNNNNN          transport PIN of a new card (default 123456)
  --debug-hash          add the debug hash element 9A to transaction answers
  --delay-ms N          time the card takes for each signature
  --export-cert FILE    write the card certificate (DER) to FILE, the CA's to FILE.ca
  --help                this text

Fault injection for reliability tests:
  --fail-after N        drop the connection instead of answering command N+1 (once)
  --status-word INS:SW  answer instruction INS with status word SW alone, e.g. 40:6581
  --truncate            cut the data of every answer to its first half
  --reset-every N       drop the connection after every N-th answer
  --stall-ms N          wait N ms before every answer
)";
}

}  // namespace kasse::sim
