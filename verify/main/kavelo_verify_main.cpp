// kavelo-verify: checks receipts' verification URLs, audits journals and serves the
// verification page.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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
    "Usage: kavelo-verify url URL_OR_T1 [--home DIR] [--cert FILE]... [--certs DIR]...\n"
    "       kavelo-verify image FILE [--home DIR] [--cert FILE]... [--certs DIR]...\n"
    "       kavelo-verify audit [--home DIR | S_FILE L_FILE]\n"
    "       kavelo-verify serve [--listen HOST:PORT] [--home DIR] [--cert FILE]... [--certs "
    "DIR]...\n"
    "       kavelo-verify --help | --version\n"
    "Every command also takes --ca FILE (repeatable): an issuer to trust.\n"
    "\n"
    "url:   checks the signed data of a receipt's QR code (the whole verification URL or only\n"
    "       its t1 value) and prints the receipt's data with the verdict. Exit 0 valid,\n"
    "       1 invalid, 2 unusable input or no certificate for the receipt's card.\n"
    "image: reads the receipt's QR code from a picture (PNG, JPEG: a scan or a phone photo) or\n"
    "       a PDF (the register's own) and checks it as url does, with the same exit status;\n"
    "       a file with no code or several different ones is unusable (2).\n"
    "audit: decodes every record of the journal pairs, checks signatures, sequence numbers,\n"
    "       that S and L files agree and that a trusted issuer vouches for each card's\n"
    "       certificate. Exit 0 clean, 1 findings, 2 unusable.\n"
    "serve: answers GET /verify.php?t1=... with an HTML page (JSON for Accept:\n"
    "       application/json); listens on 127.0.0.1:8080 unless told otherwise. Put a reverse\n"
    "       proxy in front of it for anything beyond loopback.\n"
    "\n"
    "Card certificates come from the parameter blocks of the journals under the register\n"
    "home (--home DIR; default the user's home, as kasse uses it, unless --cert or --certs is\n"
    "given), from --cert FILE (DER or PEM) and from --certs DIR (one DER file a card). A card\n"
    "certificate counts only when a trusted issuer signed it. Trusted: the user's test issuer\n"
    "(qor-sim --export-ca FILE writes it), every --ca FILE (DER or PEM) and every certificate\n"
    "file in the folder named by [Verify] trust in the home's cfg/start.ini.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "kavelo-verify: %s\n\n", problem.c_str());
  std::fputs(kUsage, problem.empty() ? stdout : stderr);
  return problem.empty() ? 0 : 2;
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
                                file + ": " + read.error().message);
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
  if (!sources) return Fail(sources.error().message);
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
  if (!code) return Fail(code.error().message);
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
  if (!sources) return Fail(sources.error().message);
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
      return Usage(parsed.error().message);
    }
  }
  auto sources = SourcesOf(a);
  if (!sources) return Fail(sources.error().message);
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
  if (!port) return Fail(port.error().message);
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

}  // namespace

int main(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") return Usage("");
    if (argument == "--version") {
      std::printf("kavelo-verify %s\n", KASSE_VERSION);
      return 0;
    }
    const bool valued = argument == "--cert" || argument == "--certs" || argument == "--ca" ||
                        argument == "--home" || argument == "--listen";
    if (valued && ++i >= argc) return Usage(argument + " needs a value");
    if (argument == "--cert")
      a.certificates.push_back(argv[i]);
    else if (argument == "--certs")
      a.folders.push_back(argv[i]);
    else if (argument == "--ca")
      a.issuers.push_back(argv[i]);
    else if (argument == "--home")
      a.home = argv[i];
    else if (argument == "--listen")
      a.listen = argv[i];
    else if (argument.starts_with("--"))
      return Usage("unknown option: " + argument);
    else if (a.command.empty())
      a.command = argument;
    else
      a.positional.push_back(argument);
  }
  if (a.command == "url") return UrlCommand(a);
  if (a.command == "image") return ImageCommand(a);
  if (a.command == "audit") return AuditCommand(a);
  if (a.command == "serve") return ServeCommand(a);
  return Usage(a.command.empty() ? "no command given" : "unknown command: " + a.command);
}
