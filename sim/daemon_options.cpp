#include "sim/daemon_options.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <utility>

#include "common/amount.h"
#include "common/command_line.h"
#include "common/hex_text.h"
#include "common/user_folders.h"
#include "sim/issuer_files.h"

namespace kasse::sim {
namespace {

Error Usage(const std::string& message) {
  return MakeError(ErrorKind::kUnusableInput, message);
}

bool ReadNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  const Result<std::int64_t> number = ParseInteger(text);
  if (!number || *number < low || *number > high) return false;
  value = *number;
  return true;
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

// INS:MS, the instruction hexadecimal and the wait in milliseconds: "40:15000".
bool ReadStall(const std::string& text, Faults& faults) {
  std::int64_t ms = 0;
  if (text.size() < 4 || text[2] != ':' || !std::isxdigit(static_cast<unsigned char>(text[0])) ||
      !std::isxdigit(static_cast<unsigned char>(text[1])) ||
      !ReadNumber(text.substr(3), 0, 600'000, ms)) {
    return false;
  }
  const Bytes ins = HexParse(text.substr(0, 2));
  if (ins.size() != 1) return false;
  faults.stalls[ins[0]] = std::chrono::milliseconds(ms);
  return true;
}

// What a valued option takes, for the message when its value does not fit.
std::string_view Expected(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kTakes[] = {
      {"state", "a file"},
      {"port", "1 to 65535"},
      {"version-level", "1 or 2"},
      {"lifecycle", "2 or 3"},
      {"pin", "six digits"},
      {"tpidno", "1 to 4294967295"},
      {"issuer", "a folder"},
      {"export-cert", "a file"},
      {"export-ca", "a file"},
      {"delay-ms", "0 to 60000"},
      {"stall-ms", "0 to 600000"},
      {"fail-after", "0 to 1000000000"},
      {"reset-every", "1 to 1000000000"},
      {"status-word", "INS:SW, e.g. 40:6581"},
      {"stall", "INS:MS, e.g. 40:15000"},
  };
  for (const auto& [option, takes] : kTakes)
    if (option == name) return takes;
  return "another value";
}

bool IsPin(const std::string& text) {
  return text.size() == 6 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The file holds the PIN alone, optionally followed by a line end.
Result<std::string> ReadPinFile(const std::filesystem::path& file) {
  auto read = ReadSmallFile(file, 64);
  if (!read) return read.error();
  std::string pin = read->contents;
  while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r'))
    pin.pop_back();
  if (read->presence == Presence::kMissing) {
    return Usage("--pin-file " + PathError(file, ENOENT));
  }
  if (!IsPin(pin)) return Usage("--pin-file " + file.string() + ": the PIN must be 6 digits");
  return pin;
}

constexpr std::array<OptionSpec, 20> kOptions{{
    {"help", false, 'h'},    {"version", false},    {"state", true},       {"port", true},
    {"version-level", true}, {"lifecycle", true},   {"pin", true},         {"pin-file", true},
    {"tpidno", true},        {"issuer", true},      {"debug-hash", false}, {"delay-ms", true},
    {"export-cert", true},   {"export-ca", true},   {"fail-after", true},  {"status-word", true},
    {"truncate", false},     {"reset-every", true}, {"stall-ms", true},    {"stall", true},
}};

Result<void> ReadCardOption(const GivenOption& option, DaemonOptions& o) {
  const std::string_view name = option.name;
  const std::string& value = option.value;
  std::int64_t n = 0;
  if (name == "state" && !value.empty()) {
    o.engine.stateFile = value;
  } else if (name == "port" && ReadNumber(value, 1, 65535, n)) {
    o.link.port = static_cast<int>(n);
  } else if (name == "version-level" && ReadNumber(value, 1, 2, n)) {
    o.engine.versionLevel = static_cast<int>(n);
  } else if (name == "lifecycle" && ReadNumber(value, 2, 3, n)) {
    o.engine.startLifecycle = static_cast<Lifecycle>(n);
  } else if (name == "pin" && IsPin(value)) {
    o.engine.transportPin = value;
  } else if (name == "pin-file") {
    auto pin = ReadPinFile(value);
    if (!pin) return pin.error();
    o.engine.transportPin = *pin;
  } else if (name == "tpidno" && ReadNumber(value, 1, 0xFFFF'FFFF, n)) {
    o.engine.tpIdNo = static_cast<std::uint32_t>(n);
  } else if (name == "issuer" && !value.empty()) {
    o.engine.issuerFolder = value;
  } else if (name == "export-cert" && !value.empty()) {
    o.exportCertificate = value;
  } else if (name == "export-ca" && !value.empty()) {
    o.exportIssuer = value;
  } else if (name == "delay-ms" && ReadNumber(value, 0, 60'000, n)) {
    o.engine.signDelay = std::chrono::milliseconds(n);
  } else {
    return BadOptionValue(option, Expected(name));
  }
  return {};
}

Result<void> ReadFaultOption(const GivenOption& option, DaemonOptions& o) {
  const std::string_view name = option.name;
  const std::string& value = option.value;
  std::int64_t n = 0;
  constexpr std::int64_t kMax = 1'000'000'000;
  if (name == "stall-ms" && ReadNumber(value, 0, 600'000, n)) {
    o.link.stall = std::chrono::milliseconds(n);
  } else if (name == "fail-after" && ReadNumber(value, 0, kMax, n)) {
    o.faults.failAfter = static_cast<std::uint64_t>(n);
  } else if (name == "reset-every" && ReadNumber(value, 1, kMax, n)) {
    o.faults.resetEvery = static_cast<std::uint64_t>(n);
  } else if (name == "status-word" && ReadStatusWord(value, o.faults)) {
  } else if (name == "stall" && ReadStall(value, o.faults)) {
  } else {
    return BadOptionValue(option, Expected(name));
  }
  return {};
}

Result<void> ReadOption(const GivenOption& option, DaemonOptions& o) {
  const std::string_view name = option.name;
  if (name == "debug-hash") {
    o.engine.debugHash = true;
  } else if (name == "truncate") {
    o.faults.truncate = true;
  } else if (name == "stall-ms" || name == "fail-after" || name == "reset-every" ||
             name == "status-word" || name == "stall") {
    return ReadFaultOption(option, o);
  } else {
    return ReadCardOption(option, o);
  }
  return {};
}

}  // namespace

Result<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args,
                                         const std::optional<std::string>& environmentPin) {
  Result<CommandLine> line = ParseCommandLine(args, kOptions);
  if (!line) return line.error();
  DaemonOptions options;
  if (line->Has("help") || line->Has("version")) {
    options.help = line->Has("help");
    options.version = !options.help;
    return options;
  }
  if (!line->operands.empty()) return Usage("unexpected argument '" + line->operands.front() + "'");
  int pinsGiven = 0;
  for (const GivenOption& option : line->options) {
    if (option.name == "pin" || option.name == "pin-file") ++pinsGiven;
    if (Result<void> read = ReadOption(option, options); !read) return read.error();
  }
  if (pinsGiven > 1) return Usage("give the transport PIN once: --pin or --pin-file");
  if (pinsGiven == 0 && environmentPin) {
    if (!IsPin(*environmentPin)) return Usage(std::string(kPinVariable) + " must be 6 digits");
    options.engine.transportPin = *environmentPin;
  }
  return options;
}

std::string DaemonUsage() {
  return R"(Usage: qor-sim [OPTION]...
The simulated QOR card on the vpcd reader of pcscd, until SIGTERM or SIGINT. Options take their
value as --port N or --port=N.

Options:

  --state FILE          keep the card in FILE and the files beside it (FILE.key, FILE.cert,
                        FILE.log, FILE.lock), created on first start (default: the user's
                        state folder, ~/.local/state/kasse/card-v2.state or card-v1.state)
  --port N              vpcd port on 127.0.0.1 (default 35963)
  --version-level 1|2   card version "T.1.1" or "T.2.0" (default 2)
  --lifecycle 2|3       lifecycle of a new card: 2 personalised, 3 activated (default 3)
  --pin NNNNNN          transport PIN of a new card (default 123456); seen by anyone who
                        lists processes, so prefer:
  --pin-file FILE       the transport PIN from FILE (six digits, a line end allowed), or
                        the environment variable QOR_SIM_PIN when neither option is given
  --tpidno N            card number of a new card (default: the test issuer's next free one)
  --issuer DIR          the test issuer's folder (default: the user's state folder,
                        $XDG_STATE_HOME/kasse; a card in memory only gets a throw-away one)
  --debug-hash          add the debug hash element 9A to transaction answers
  --delay-ms N          time the card takes for each signature
  --export-cert FILE    write the card certificate (DER) to FILE, the issuer's to FILE.ca,
                        then serve the card
  --export-ca FILE      write the test issuer's certificate (DER) to FILE and exit (the
                        issuer is made when there is none yet); verifiers trust it
  -h, --help            this text
  --version             the version, its copyright and licence

Fault injection for reliability tests:
  --fail-after N        drop the connection instead of answering command N+1 (once)
  --status-word INS:SW  answer instruction INS with status word SW alone, e.g. 40:6581
  --truncate            cut the data of every answer to its first half
  --reset-every N       drop the connection after every N-th answer
  --stall-ms N          wait N ms before every answer
  --stall INS:MS        wait MS ms (beyond --stall-ms) before answering instruction INS
                        (hexadecimal), e.g. 40:15000 holds back every TRANSACTION answer
                        after the card signed it; repeatable
)";
}

}  // namespace kasse::sim
