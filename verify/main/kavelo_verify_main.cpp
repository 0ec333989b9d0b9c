// kavelo-verify: checks receipts' verification URLs, audits journals and serves the
// verification page.

#include <pthread.h>
#include <signal.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/command_line.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/user_folders.h"
#include "qrread/picture_file.h"
#include "verify/card_certificate.h"
#include "verify/certificate_index.h"
#include "verify/journal_audit.h"
#include "verify/receipt_verdict.h"
#include "verify/verify_server.h"

namespace {

constexpr const char* kUsage =
    "Usage: kavelo-verify url URL_OR_T1 [OPTION]...\n"
    "  or:  kavelo-verify image FILE [OPTION]...\n"
    "  or:  kavelo-verify audit [S_FILE L_FILE] [OPTION]...\n"
    "  or:  kavelo-verify serve [OPTION]...\n"
    "Checks the signed receipts of the register: a receipt's QR code, the journals, and the\n"
    "verification page the QR codes lead to.\n"
    "\n"
    "Commands:\n"
    "  url URL_OR_T1  check the signed data of a receipt's QR code (the whole verification URL\n"
    "                 or only its t1 value) and print the receipt's data with the verdict.\n"
    "                 Exit 0 valid, 1 invalid, 2 unusable input or no certificate for the\n"
    "                 receipt's card.\n"
    "  image FILE     read the receipt's QR code from a picture (PNG, JPEG: a scan or a phone\n"
    "                 photo) or a PDF (the register's own) and check it as url does, with the\n"
    "                 same exit status; a file with no code or several different ones is\n"
    "                 unusable (2).\n"
    "  audit          decode every record of the journal pairs (of the home, or the S and the\n"
    "                 L file named), check signatures, sequence numbers, that S and L files\n"
    "                 agree and that a trusted issuer vouches for each card's certificate.\n"
    "                 Exit 0 clean, 1 findings, 2 unusable.\n"
    "  serve          answer GET /verify.php?t1=... with an HTML page (JSON for Accept:\n"
    "                 application/json). Put a reverse proxy in front of it for anything\n"
    "                 beyond loopback.\n"
    "\n"
    "Options (before or after the command, as --home DIR or --home=DIR; -- ends them):\n"
    "  --home DIR     the register home whose journals are read (default: the user's, as\n"
    "                 kasse uses it, unless --cert or --certs is given)\n"
    "  --cert FILE    a card certificate (DER or PEM); repeatable\n"
    "  --certs DIR    a folder of card certificates, one DER file a card; repeatable\n"
    "  --ca FILE      an issuer to trust (DER or PEM); repeatable\n"
    "  --listen HOST:PORT  serve: where to listen (default 127.0.0.1:8080)\n"
    "  -h, --help     this text\n"
    "  --version      the version, its copyright and licence\n"
    "\n"
    "A card certificate counts only when a trusted issuer signed it. Trusted: the user's test\n"
    "issuer (qor-sim --export-ca FILE writes it), every --ca FILE and every certificate file in\n"
    "the folder named by [Verify] trust in the home's cfg/start.ini.\n";

// The help for an empty problem, else the one line of a usage error.
int Usage(const std::string& problem) {
  if (problem.empty()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fputs(kasse::UsageLine("kavelo-verify", problem).c_str(), stderr);
  return 2;
}

int Fail(const std::string& problem) {
  std::fprintf(stderr, "kavelo-verify: %s\n", problem.c_str());
  return 2;
}

struct Arguments {
  std::string command, home, listen;
  std::vector<std::string> certificates, folders, issuers, positional;
};

int ExitOf(kasse::Validity validity) {
  switch (validity) {
    case kasse::Validity::kValid:
      return 0;
    case kasse::Validity::kInvalid:
      return 1;
    case kasse::Validity::kUnusable:
      return 2;
  }
  return 2;
}

// The register home whose journals are read: --home, else the user's unless certificates are
// given some other way.
std::filesystem::path HomeOf(const Arguments& a) {
  if (!a.home.empty()) return a.home;
  if (!a.certificates.empty() || !a.folders.empty()) return {};
  return kasse::DefaultRegisterHome();
}

// Sources of certificates and trust; an explicit file that cannot be used is an error.
kasse::Result<kasse::CertificateSources> SourcesOf(const Arguments& a) {
  kasse::CertificateSources sources;
  sources.home = HomeOf(a);
  for (const std::string& file : a.certificates)
    sources.cardFiles.emplace_back(file);
  for (const std::string& folder : a.folders)
    sources.cardFolders.emplace_back(folder);
  std::error_code error;
  sources.userIssuer = kasse::TestIssuerCertificateFile();
  // Files named on the command line must hold certificates: a typo is an error, not a warning.
  for (const auto* files : {&a.certificates, &a.issuers}) {
    for (const std::string& file : *files) {
      if (std::filesystem::exists(file, error) && !std::filesystem::is_regular_file(file, error))
        return kasse::MakeError(kasse::ErrorKind::kIo, file + ": not a regular file");
      auto text = kasse::ReadFile(file);
      if (!text) return text.error();
      if (auto read = kasse::CertificatesOfFile(*text); !read) {
        return kasse::MakeError(kasse::ErrorKind::kUnusableInput,
                                file + ": " + read.error().English());
      }
    }
  }
  for (const std::string& file : a.issuers)
    sources.trustFiles.emplace_back(file);
  for (const auto& folder : sources.cardFolders) {
    if (!std::filesystem::is_directory(folder, error))
      return kasse::MakeError(kasse::ErrorKind::kIo, folder.string() + ": not a folder (--certs)");
  }
  if (!sources.home.empty()) {
    const std::filesystem::path ini = sources.home / "cfg" / "start.ini";
    if (std::filesystem::exists(ini, error)) {
      auto settings = kasse::IniFile::Load(ini);
      if (!settings) return settings.error();
      if (auto folder = settings->Get("Verify", "trust"); folder && !folder->empty()) {
        const std::filesystem::path path(*folder);
        sources.trustFolders.push_back(path.is_absolute() ? path : sources.home / path);
      }
    }
  }
  for (const auto& folder : sources.trustFolders) {
    if (!std::filesystem::is_directory(folder, error)) {
      return kasse::MakeError(kasse::ErrorKind::kIo,
                              folder.string() + ": not a folder ([Verify] trust in " +
                                  (sources.home / "cfg" / "start.ini").string() + ")");
    }
  }
  return sources;
}

void Warn(const kasse::CertificateIndex& index) {
  for (const std::string& problem : index.Problems())
    std::fprintf(stderr, "kavelo-verify: warning: %s\n", problem.c_str());
}

int UrlCommand(const Arguments& a) {
  if (a.positional.size() != 1) return Usage("url needs the verification URL or its t1 value");
  auto sources = SourcesOf(a);
  if (!sources) return Fail(sources.error().English());
  const kasse::CertificateIndex index(std::move(*sources));
  Warn(index);
  kasse::ReceiptVerdict verdict = kasse::JudgeReceipt(a.positional[0], index);
  if (verdict.cardUnknown) verdict.reason += " in " + index.Where();
  std::fputs(kasse::VerdictText(verdict).c_str(), stdout);
  return ExitOf(verdict.validity);
}

// The receipt's code read from a picture or PDF, then judged exactly as `url` judges it.
int ImageCommand(const Arguments& a) {
  if (a.positional.size() != 1) return Usage("image needs a picture (PNG, JPEG) or a PDF");
  const kasse::Result<std::string> code = kasse::QrCodeOfFile(a.positional[0]);
  if (!code) return Fail(code.error().English());
  std::fprintf(stderr, "kavelo-verify: the QR code in %s: %s\n", a.positional[0].c_str(),
               code->c_str());
  Arguments read = a;
  read.positional = {*code};
  return UrlCommand(read);
}

int AuditCommand(const Arguments& a) {
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pairs;
  if (a.positional.empty()) {
    pairs = kasse::JournalPairs(
        a.home.empty() ? kasse::DefaultRegisterHome() : std::filesystem::path(a.home),
        kasse::LoneLFiles::kList);
  } else if (a.home.empty() && a.positional.size() == 2) {
    pairs.emplace_back(a.positional[0], a.positional[1]);
  } else {
    return Usage("audit needs --home DIR or the S file and the L file");
  }
  auto sources = SourcesOf(a);
  if (!sources) return Fail(sources.error().English());
  sources->home.clear();  // the journals are audited, not indexed
  const kasse::CertificateIndex trust(std::move(*sources));
  Warn(trust);
  const kasse::AuditReport report = kasse::AuditFiles(pairs, trust.Trust());
  std::fputs(kasse::AuditText(report).c_str(), stdout);
  return kasse::AuditExitCode(report);
}

int ServeCommand(const Arguments& a) {
  if (!a.positional.empty()) return Usage("serve takes no such argument");
  kasse::ServeOptions options;
  if (!a.listen.empty()) {
    if (auto parsed = kasse::ParseListen(a.listen, options); !parsed) {
      return Usage(parsed.error().English());
    }
  }
  auto sources = SourcesOf(a);
  if (!sources) return Fail(sources.error().English());
  kasse::CertificateIndex index(std::move(*sources));
  Warn(index);
  if (index.IssuerCount() == 0) {
    std::fprintf(stderr,
                 "kavelo-verify: warning: no issuer is trusted yet, so no receipt is valid: %s "
                 "does not exist (the first simulated card makes it); give one with --ca FILE\n",
                 kasse::TestIssuerCertificateFile().c_str());
  }
  kasse::VerifyServer server(options, index);
  auto port = server.Bind();
  if (!port) return Fail(port.error().English());
  // SIGINT and SIGTERM end the service in order; every thread started from here blocks them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  std::printf("serving http://%s:%d/verify.php (%zu trusted issuer(s), %zu card certificate(s))\n",
              options.host.c_str(), *port, index.IssuerCount(), index.CertificateCount());
  std::fflush(stdout);
  server.Run();
  stopper.join();
  return 0;
}

constexpr std::array<kasse::OptionSpec, 7> kOptions{{
    {"help", false, 'h'},
    {"version", false},
    {"cert", true},
    {"certs", true},
    {"ca", true},
    {"home", true},
    {"listen", true},
}};

// The command first, its operands after it; options may stand anywhere.
kasse::Result<Arguments> ReadArguments(const std::vector<std::string>& args) {
  auto line = kasse::ParseCommandLine(args, kOptions);
  if (!line) return line.error();
  Arguments a;
  for (const kasse::GivenOption& option : line->options) {
    if (option.name == "help" || option.name == "version") {
      a.command = "--" + std::string(option.name);
      return a;
    }
    if (option.value.empty()) return kasse::BadOptionValue(option, "a value");
    if (option.name == "cert") a.certificates.push_back(option.value);
    if (option.name == "certs") a.folders.push_back(option.value);
    if (option.name == "ca") a.issuers.push_back(option.value);
    if (option.name == "home") a.home = option.value;
    if (option.name == "listen") a.listen = option.value;
  }
  if (!line->operands.empty()) {
    a.command = line->operands.front();
    a.positional.assign(line->operands.begin() + 1, line->operands.end());
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  auto arguments = ReadArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!arguments) return Usage(arguments.error().English());
  const Arguments& a = *arguments;
  if (a.command == "--help") return Usage("");
  if (a.command == "--version") {
    std::fputs(kasse::VersionText("kavelo-verify", KASSE_VERSION).c_str(), stdout);
    return 0;
  }
  if (a.command == "url") return UrlCommand(a);
  if (a.command == "image") return ImageCommand(a);
  if (a.command == "audit") return AuditCommand(a);
  if (a.command == "serve") return ServeCommand(a);
  return Usage(a.command.empty() ? "no command given" : "unknown command '" + a.command + "'");
}
