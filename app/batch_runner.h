#pragma once
// The batch front-end: runs a script of operator commands against the register, one command a
// line, and reports each failure as "error: line N: " and the reason. Output is UTF-8.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/batch_line.h"
#include "register/register.h"

namespace kasse {

struct BatchOptions {
  std::filesystem::path home;
  // Builds the card backend the register runs on (must be set): once for the run, and anew
  // for each further try at the card check within the card wait.
  CardBackendMaker card;
  unsigned seed = 1;
  bool strict = false;  // stop at the first failing command
  // Where a home that lacks them gets its default files from; empty: the home is used as it is.
  std::filesystem::path defaults;
  // Over pcsc-lite (a card not in the process), how long to wait for a card in a reader before
  // the card check; 0: not at all.
  std::chrono::milliseconds cardWait{0};
  // The language of a new home (RegisterOptions::newHomeLanguage).
  std::string newHomeLanguage;
  // Tests: the journal's file calls, the state folder that takes rescued records and the
  // pending export text, and the system clock the application clock runs on.
  FileIo* journalIo = nullptr;
  std::filesystem::path stateFolder;
  AppClock::NowSource now = SystemNow;
};

// Exit codes of `kasse --batch`.
inline constexpr int kBatchOk = 0;
inline constexpr int kBatchFailed = 1;
inline constexpr int kBatchUsage = 2;
inline constexpr int kBatchCardError = 3;
// A signed record could not be written to the journal by the end of the run: it was rescued
// into the state folder (the next start journals it), or, when even that failed, its request
// and answer are on standard error.
inline constexpr int kBatchRecordsRescued = 4;
inline constexpr int kBatchRecordsLost = 5;

class BatchRunner {
 public:
  BatchRunner(BatchOptions options, std::ostream& out, std::ostream& err);

  // Starts the register (card check, journal) and runs every line of the script.
  int Run(std::istream& script);
  // Without Run: starts the register only (tests drive commands through Execute).
  Result<void> Start();
  Result<void> Execute(const BatchLine& line);

  Register* Reg() { return register_.get(); }
  // Asks a running `mass` to stop after the position in progress.
  void RequestStop() { stop_ = true; }

 private:
  int RunLines(std::istream& script);
  int CardError(std::size_t lineNumber);
  int EndRun(int status);
  void PrintNewWarnings();
  void WaitForCard(PcscApi& pcsc);
  Result<void> SaleCommand(const BatchLine& line, bool& handled);
  Result<void> SwitchCommand(const BatchLine& line, bool& handled);
  Result<void> ReportCommand(const BatchLine& line, bool& handled);
  Result<void> FileCommand(const BatchLine& line, bool& handled);
  Result<void> OutputCommand(const BatchLine& line, bool& handled);
  void EnsurePictureSupport();
  Result<void> Mass(const std::vector<std::string>& arguments);
  Result<void> BookSelected();

  BatchOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<Register> register_;
  std::atomic<bool> stop_{false};
  std::optional<std::size_t> selected_;
  std::string quantity_;
  std::size_t warningsShown_ = 0;
  // The offscreen Qt application of the picture commands, made on first use only, so that
  // every other batch run stays free of Qt.
  std::shared_ptr<void> pictureSupport_;
};

// The fields of `special` and `product-add`: name=.. unit=.. p1..p6=CENTS qty=.. and the flags
// discount voucher agency delivery.
SpecialPositionFields PositionFields(const std::vector<std::string>& arguments);

// "on" or "off"; an error otherwise.
Result<bool> OnOff(const std::vector<std::string>& arguments);

}  // namespace kasse
