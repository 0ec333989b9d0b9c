// kasse: the register. For now only the batch front-end (`--batch FILE|-`) exists.

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/batch_runner.h"
#include "common/amount.h"

namespace {

constexpr const char* kUsage =
    "Usage: kasse --batch FILE|- [--home DIR] [--card pcsc|sim] [--sim-version 1|2]\n"
    "             [--sim-lifecycle 2|3] [--sim-pin NNNNNN] [--seed N] [--strict]\n"
    "  --batch FILE|-    run the commands of FILE (UTF-8), or of standard input\n"
    "  --home DIR        register home (default: the folder of this program)\n"
    "  --card pcsc|sim   pcsc-lite or the simulated card in this process (default sim)\n"
    "  --strict          stop at the first failing command\n"
    "Exit: 0 every command succeeded, 1 a command failed, 2 usage, 3 card error.\n";

std::filesystem::path ProgramFolder(const char* argv0) {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = std::filesystem::absolute(argv0, error);
  return self.parent_path();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kasse;
  BatchOptions options;
  options.home = ProgramFolder(argv[0]);
  std::string batch;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    const bool hasValue = i + 1 < args.size();
    std::int64_t number = 0;
    if (name == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (name == "--strict") {
      options.strict = true;
    } else if (!hasValue) {
      std::cerr << "kasse: unknown or incomplete option " << name << "\n" << kUsage;
      return kBatchUsage;
    } else {
      const std::string& value = args[++i];
      const bool isNumber = ParseInteger(value, number);
      if (name == "--batch")
        batch = value;
      else if (name == "--home")
        options.home = value;
      else if (name == "--card" && (value == "sim" || value == "pcsc"))
        options.card.simulated = value == "sim";
      else if (name == "--sim-version" && isNumber && (number == 1 || number == 2))
        options.card.simVersion = static_cast<int>(number);
      else if (name == "--sim-lifecycle" && isNumber && (number == 2 || number == 3))
        options.card.simLifecycle =
            number == 2 ? sim::Lifecycle::kPersonalised : sim::Lifecycle::kActivated;
      else if (name == "--sim-pin" && value.size() == 6 && isNumber)
        options.card.simPin = value;
      else if (name == "--seed" && isNumber && number >= 0)
        options.seed = static_cast<unsigned>(number);
      else {
        std::cerr << "kasse: bad option " << name << " " << value << "\n" << kUsage;
        return kBatchUsage;
      }
    }
  }
  if (batch.empty()) {
    std::cerr << "kasse: the register window is not built yet; use --batch FILE|-\n";
    return kBatchUsage;
  }
  BatchRunner runner(options, std::cout, std::cerr);
  if (batch == "-") return runner.Run(std::cin);
  std::ifstream script(batch);
  if (!script) {
    std::cerr << "kasse: cannot read " << batch << "\n";
    return kBatchUsage;
  }
  return runner.Run(script);
}
