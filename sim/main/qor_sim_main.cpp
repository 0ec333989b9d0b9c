// qor-sim: the simulated QOR card on the vpcd reader of pcscd, until SIGTERM or SIGINT.

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/files.h"
#include "common/user_folders.h"
#include "sim/daemon_options.h"
#include "sim/test_issuer.h"

namespace {

using kasse::sim::DaemonOptions;

bool ExportCertificates(const kasse::sim::QorEngine& engine, const std::filesystem::path& file) {
  const auto write = [](const std::filesystem::path& path, const kasse::Bytes& der) {
    const auto written = kasse::WriteFileAtomic(path, kasse::ToText(der));
    if (!written) std::cerr << "qor-sim: " << written.error().message << '\n';
    return static_cast<bool>(written);
  };
  return write(file, engine.CardCertificate()) &&
         write(file.string() + ".ca", engine.CaCertificate());
}

// The issuer alone: exporting its certificate needs no card.
int ExportIssuer(const DaemonOptions& options) {
  const auto issuer = kasse::sim::TestIssuer::Open(
      options.engine.issuerFolder, kasse::PosixFileIo(),
      [](const std::string& notice) { std::cerr << "qor-sim: " << notice << '\n'; });
  if (!issuer) {
    std::cerr << "qor-sim: " << issuer.error().message << '\n';
    return 1;
  }
  const auto written =
      kasse::WriteFileAtomic(options.exportIssuer, kasse::ToText(issuer->Certificate()));
  if (!written) {
    std::cerr << "qor-sim: " << written.error().message << '\n';
    return 1;
  }
  return 0;
}

int Run(const DaemonOptions& options) {
  // Signals arrive as a readable descriptor, so the socket loop can wait on both.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) {
    std::cerr << "qor-sim: cannot watch for signals\n";
    return 1;
  }
  kasse::sim::QorEngine engine(options.engine);
  if (engine.StartError()) {
    std::cerr << "qor-sim: " << engine.StartError()->message << '\n';
    return 1;
  }
  if (!options.exportCertificate.empty() &&
      !ExportCertificates(engine, options.exportCertificate)) {
    return 1;
  }
  kasse::sim::VpcdCard card(engine, options.faults);
  kasse::sim::RunVpcdLink(card, options.link, stopFd);
  ::close(stopFd);
  std::cerr << "qor-sim: stopped\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "qor-sim " KASSE_VERSION "\n";
    return 0;
  }
  const char* pin = std::getenv(kasse::sim::kPinVariable);
  auto options =
      kasse::sim::ParseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc),
                                     pin ? std::optional<std::string>(pin) : std::nullopt);
  if (!options) {
    std::cerr << "qor-sim: " << options.error().message << "\n\n" << kasse::sim::DaemonUsage();
    return 2;
  }
  if (options->help) {
    std::cout << kasse::sim::DaemonUsage();
    return 0;
  }
  if (!options->exportIssuer.empty()) return ExportIssuer(*options);
  if (options->engine.stateFile.empty()) {
    options->engine.stateFile = kasse::DefaultCardStateFile(options->engine.versionLevel);
  }
  options->engine.onWriteError = [](const kasse::Error& error) {
    std::cerr << "qor-sim: answered 65 81, nothing kept: " << error.message << '\n';
  };
  options->engine.onNotice = [](const std::string& notice) {
    std::cerr << "qor-sim: " << notice << '\n';
  };
  return Run(*options);
}
