#include "receipt/raw_print_job.h"

namespace kasse {

namespace {

// ESC t 16 (character code table 16), then 1B 43 18, sent as the printer expects them.
constexpr std::string_view kJobPrefix{"\x1B\x74\x10\x1B\x43\x18", 6};
constexpr std::string_view kLineEnd{"\r\n", 2};
constexpr std::string_view kCentre{"\x1B\x61\x31", 3};                             // ESC a 1
constexpr std::string_view kQrErrorLevelL{"\x1D\x28\x6B\x03\x00\x31\x45\x30", 8};  // fn 69
constexpr std::string_view kQrStoreHead{"\x1D\x28\x6B", 3};                        // GS ( k
constexpr std::string_view kQrStoreFunction{"\x31\x50\x30", 3};                    // fn 80
constexpr std::string_view kQrPrint{"\x1D\x28\x6B\x03\x00\x31\x51\x30", 8};        // fn 81
constexpr std::string_view kLeft{"\x1B\x61\x30", 3};                               // ESC a 0
// 1B 00, then GS V 65 0: feed to the cutting position and cut.
constexpr std::string_view kJobEnd{"\x1B\x00\x1D\x56\x41\x00", 6};

}  // namespace

std::string BuildQrPrintCommands(std::string_view url) {
  const std::size_t length = url.size() + kQrStoreOverhead;
  std::string commands;
  commands += kCentre;
  commands += kQrErrorLevelL;
  commands += kQrStoreHead;
  commands += static_cast<char>(length % 256);
  commands += static_cast<char>((length / 256) % 256);
  commands += kQrStoreFunction;
  commands += url;
  commands += kQrPrint;
  commands += kLeft;
  return commands;
}

void TrimEmptyLastLines(std::vector<std::string>& lines) {
  while (lines.size() >= 3 && lines.back().empty())
    lines.pop_back();
}

std::string BuildRawPrintJob(const std::vector<std::string>& lines, std::string_view url) {
  std::string job(kJobPrefix);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) job += kLineEnd;
    job += lines[i];
  }
  job += kLineEnd;
  job += BuildQrPrintCommands(url);
  job += kJobEnd;
  return job;
}

}  // namespace kasse
