// kavelo-verify: checks receipts' verification URLs, audits journals and serves the
// verification page.

#include <cstdio>
#include <string>
#include <vector>

#include "common/files.h"
#include "verify/journal_audit.h"
#include "verify/receipt_verdict.h"
#include "verify/verify_page.h"
#include "verify/verify_server.h"

namespace {

constexpr const char* kUsage =
    "Usage: kavelo-verify url URL_OR_T1 (--cert FILE | --home DIR)\n"
    "       kavelo-verify audit (--home DIR | S_FILE L_FILE)\n"
    "       kavelo-verify serve [--listen HOST:PORT] [--home DIR] [--cert FILE]...\n"
    "\n"
    "url:   checks the signed data of a receipt's QR code (the whole verification URL or only\n"
    "       its t1 value) against the card certificate FILE (X.509, DER, as qor-sim\n"
    "       --export-cert writes it) or the one in the journals under DIR/Journal, and prints\n"
    "       the receipt's data with the verdict. Exit 0 valid, 1 invalid, 2 unusable input.\n"
    "audit: decodes every record of the journal pairs, checks signatures, sequence numbers and\n"
    "       that S and L files agree. Exit 0 clean, 1 findings, 2 unusable.\n"
    "serve: answers GET /verify.php?t1=... with an HTML page (JSON for Accept:\n"
    "       application/json); listens on 127.0.0.1:8080 unless told otherwise.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "kavelo-verify: %s\n\n", problem.c_str());
  std::fputs(kUsage, problem.empty() ? stdout : stderr);
  return problem.empty() ? 0 : 2;
}

struct Arguments {
  std::string command, home, listen;
  std::vector<std::string> certificates, positional;
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

int UrlCommand(const Arguments& a, const std::vector<kasse::Bytes>& certificates) {
  if (a.positional.size() != 1) return Usage("url needs the verification URL or its t1 value");
  if (certificates.empty() && a.home.empty()) return Usage("--cert FILE or --home DIR is needed");
  kasse::ReceiptVerdict verdict =
      kasse::VerifyWithCertificates(a.positional[0], certificates, a.home);
  if (verdict.validity == kasse::Validity::kUnusable && verdict.receipt && certificates.empty()) {
    verdict.reason = "no certificate for this card in the journals under " + a.home;
  }
  std::fputs(kasse::VerdictText(verdict).c_str(), stdout);
  return ExitOf(verdict.validity);
}

int AuditCommand(const Arguments& a) {
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pairs;
  if (!a.home.empty() && a.positional.empty()) {
    pairs = kasse::JournalPairs(a.home);
  } else if (a.home.empty() && a.positional.size() == 2) {
    pairs.emplace_back(a.positional[0], a.positional[1]);
  } else {
    return Usage("audit needs --home DIR or the S file and the L file");
  }
  const kasse::AuditReport report = kasse::AuditFiles(pairs);
  std::fputs(kasse::AuditText(report).c_str(), stdout);
  return kasse::AuditExitCode(report);
}

int ServeCommand(const Arguments& a, std::vector<kasse::Bytes> certificates) {
  if (!a.positional.empty()) return Usage("serve takes no such argument");
  kasse::ServeOptions options;
  if (!a.listen.empty()) {
    if (auto parsed = kasse::ParseListen(a.listen, options); !parsed) {
      return Usage(parsed.error().message);
    }
  }
  options.home = a.home;
  options.certificates = std::move(certificates);
  kasse::VerifyServer server(options);
  auto port = server.Bind();
  if (!port) {
    std::fprintf(stderr, "kavelo-verify: %s\n", port.error().message.c_str());
    return 2;
  }
  std::printf("serving http://%s:%d/verify.php\n", options.host.c_str(), *port);
  std::fflush(stdout);
  server.Run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") return Usage("");
    if (argument == "--version") {
      std::printf("kavelo-verify " KASSE_VERSION "\n");
      return 0;
    }
    const bool valued = argument == "--cert" || argument == "--home" || argument == "--listen";
    if (valued && ++i >= argc) return Usage(argument + " needs a value");
    if (argument == "--cert")
      a.certificates.push_back(argv[i]);
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
  std::vector<kasse::Bytes> certificates;
  for (const std::string& file : a.certificates) {
    auto certificate = kasse::ReadFile(file);
    if (!certificate) {
      std::fprintf(stderr, "kavelo-verify: %s\n", certificate.error().message.c_str());
      return 2;
    }
    certificates.push_back(kasse::ToBytes(*certificate));
  }
  if (a.command == "url") return UrlCommand(a, certificates);
  if (a.command == "audit") return AuditCommand(a);
  if (a.command == "serve") return ServeCommand(a, std::move(certificates));
  return Usage(a.command.empty() ? "no command given" : "unknown command: " + a.command);
}
