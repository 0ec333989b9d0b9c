#pragma once
// Command line of the qor-sim daemon.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "sim/qor_engine.h"
#include "sim/vpcd_card.h"
#include "sim/vpcd_link.h"

namespace kasse::sim {

struct DaemonOptions {
  EngineOptions engine;
  Faults faults;
  LinkOptions link;
  std::filesystem::path exportCertificate;
  std::filesystem::path exportIssuer;  // write the issuer certificate there and exit
  bool help = false;
  bool version = false;
};

// The environment variable that may hold the transport PIN, out of sight of `ps`.
inline constexpr const char* kPinVariable = "QOR_SIM_PIN";

// Arguments without the program name; `environmentPin` is the value of kPinVariable, used
// when neither --pin nor --pin-file is given. A usage error says what is wrong in a few words
// (see UsageLine of common/command_line.h).
Result<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args,
                                         const std::optional<std::string>& environmentPin = {});
std::string DaemonUsage();

}  // namespace kasse::sim
