// kavelo-verify: checks a receipt's verification URL against the card's certificate.

#include <cstdio>
#include <cstring>
#include <string>

#include "common/files.h"
#include "verify/receipt_verdict.h"

namespace {

constexpr const char* kUsage =
    "Usage: kavelo-verify url URL_OR_T1 --cert FILE\n"
    "\n"
    "Checks the signed data of a receipt's QR code (the whole verification URL or only its\n"
    "t1 value) against the card certificate FILE (X.509, DER, as qor-sim --export-cert\n"
    "writes it) and prints date, time, operator, item-list hash, containers, card and\n"
    "sequence number with the verdict.\n"
    "\n"
    "Exit status: 0 valid, 1 invalid, 2 unusable input.\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "kavelo-verify: %s\n\n", problem);
  std::fputs(kUsage, problem != nullptr ? stderr : stdout);
  return problem != nullptr ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command;
  std::string url;
  std::string certificateFile;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") return Usage(nullptr);
    if (argument == "--cert") {
      if (++i >= argc) return Usage("--cert needs a file");
      certificateFile = argv[i];
    } else if (command.empty()) {
      command = argument;
    } else if (url.empty()) {
      url = argument;
    } else {
      return Usage(("unexpected argument: " + argument).c_str());
    }
  }
  if (command != "url") return Usage(command.empty() ? "no command given" : "unknown command");
  if (url.empty()) return Usage("url needs the verification URL or its t1 value");
  if (certificateFile.empty()) return Usage("--cert FILE is needed to judge the signature");
  auto certificate = kasse::ReadFile(certificateFile);
  if (!certificate) {
    std::fprintf(stderr, "kavelo-verify: %s\n", certificate.error().message.c_str());
    return 2;
  }
  const kasse::ReceiptVerdict verdict = kasse::VerifyReceiptUrl(url, kasse::ToBytes(*certificate));
  std::fputs(kasse::VerdictText(verdict).c_str(), stdout);
  switch (verdict.validity) {
    case kasse::Validity::kValid:
      return 0;
    case kasse::Validity::kInvalid:
      return 1;
    case kasse::Validity::kUnusable:
      return 2;
  }
  return 2;
}
