// qor-sim: the simulated QOR card on the vpcd reader of pcscd, until SIGTERM or SIGINT.

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/command_line.h"
#include "common/files.h"
#include "common/user_folders.h"
#include "sim/daemon_options.h"
#include "sim/test_issuer.h"

namespace {

using kasse::sim::DaemonOptions;

// One line on standard error. Through the C library's fprintf, whose fortified form checks the
// format at run time, like the other programs' messages.
void Say(const std::string& text) {
  std::fprintf(stderr, "qor-sim: %s\n", text.c_str());
}

bool ExportCertificates(const kasse::sim::QorEngine& engine, const std::filesystem::path& file) {
  const auto write = [](const std::filesystem::path& path, const kasse::Bytes& der) {
    const auto written = kasse::WriteFileAtomic(path, kasse::ToText(der));
    if (!written) Say(written.error().English());
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
    Say(issuer.error().English());
    return 1;
  }
  const auto written =
      kasse::WriteFileAtomic(options.exportIssuer, kasse::ToText(issuer->Certificate()));
  if (!written) {
    Say(written.error().English());
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
    Say("cannot watch for signals");
    return 1;
  }
  kasse::sim::QorEngine engine(options.engine);
  if (engine.StartError()) {
    Say(engine.StartError()->English());
    return 1;
  }
  if (!options.exportCertificate.empty() &&
      !ExportCertificates(engine, options.exportCertificate)) {
    return 1;
  }
  kasse::sim::VpcdCard card(engine, options.faults);
  kasse::sim::RunVpcdLink(card, options.link, stopFd);
  ::close(stopFd);
  Say("stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* pin = std::getenv(kasse::sim::kPinVariable);
  auto options =
      kasse::sim::ParseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc),
                                     pin ? std::optional<std::string>(pin) : std::nullopt);
  if (!options) {
    std::cerr << kasse::UsageLine("qor-sim", options.error().English());
    return 2;
  }
  if (options->help) {
    std::cout << kasse::sim::DaemonUsage();
    return 0;
  }
  if (options->version) {
    std::cout << kasse::VersionText("qor-sim", KASSE_VERSION);
    return 0;
  }
  if (!options->exportIssuer.empty()) return ExportIssuer(*options);
  if (options->engine.stateFile.empty()) {
    options->engine.stateFile = kasse::DefaultCardStateFile(options->engine.versionLevel);
  }
  options->engine.onWriteError = [](const kasse::Error& error) {
    Say("answered 65 81, nothing kept: " + error.English());
  };
  options->engine.onNotice = [](const std::string& notice) {
    std::cerr << "qor-sim: " << notice << '\n';
  };
  return Run(*options);
}
