#pragma once
// Command line of the qor-sim daemon.

#include <filesystem>
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
  bool help = false;
};

// Arguments without the program name.
Result<DaemonOptions> ParseDaemonOptions(const std::vector<std::string>& args);
std::string DaemonUsage();

}  // namespace kasse::sim
