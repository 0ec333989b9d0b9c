#include "app/batch_runner.h"

#include <chrono>
#include <istream>
#include <ostream>
#include <thread>

#include "app/card_wait.h"
#include "common/cp1252.h"
#include "register/register_home.h"

namespace kasse {

Result<bool> OnOff(const std::vector<std::string>& arguments) {
  if (arguments.size() == 1 && arguments[0] == "on") return true;
  if (arguments.size() == 1 && arguments[0] == "off") return false;
  return MakeError(ErrorKind::kUnusableInput, "expected on or off");
}

namespace {
// Between two card checks within the card wait.
constexpr std::chrono::milliseconds kCardRetryPause{250};
}  // namespace

BatchRunner::BatchRunner(BatchOptions options, std::ostream& out, std::ostream& err)
    : options_(std::move(options)), out_(out), err_(err) {}

void BatchRunner::WaitForCard(PcscApi& pcsc) {
  if (options_.cardWait.count() <= 0) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(options_.cardWait);
  const bool found = WaitForCardInReader(pcsc, options_.cardWait, [&] {
    err_ << "kasse: no card in a reader yet; waiting up to " << seconds.count()
         << " s for one (--card-wait)\n"
         << std::flush;
  });
  if (!found) err_ << "kasse: no card appeared within " << seconds.count() << " s\n";
}

Result<void> BatchRunner::Start() {
  if (!options_.defaults.empty())
    if (Result<void> seeded = SeedRegisterHome(options_.home, options_.defaults); !seeded)
      return seeded;
  RegisterOptions options;
  options.home = options_.home;
  options.seed = options_.seed;
  options.journalIo = options_.journalIo;
  options.stateFolder = options_.stateFolder;
  options.newHomeLanguage = options_.newHomeLanguage;
  options.now = options_.now;
  // The register of an earlier run lets go of the card first: one holder at a time.
  register_.reset();
  std::unique_ptr<CardBackend> card = options_.card();
  if (!card->InProcess()) WaitForCard(card->Api());
  // A reader may still show the card of a program that just ended, or a card that is not up
  // yet: within the card wait, a failed card check is tried again.
  const auto deadline = std::chrono::steady_clock::now() + options_.cardWait;
  Result<void> started;
  for (;;) {
    register_ = std::make_unique<Register>(options, std::move(card));
    warningsShown_ = 0;
    started = register_->Start();
    const bool retry = !started && register_->Card().Failed() && !register_->Card().InRegister() &&
                       std::chrono::steady_clock::now() + kCardRetryPause < deadline;
    if (!retry) break;
    std::this_thread::sleep_for(kCardRetryPause);
    register_.reset();
    card = options_.card();
  }
  PrintNewWarnings();
  return started;
}

// What the register or its card said since the last look (the card's notices come at any
// time), each once.
void BatchRunner::PrintNewWarnings() {
  const std::vector<Error>& warnings = register_->Warnings();
  for (; warningsShown_ < warnings.size(); ++warningsShown_)
    err_ << "warning: " << Cp1252ToUtf8(warnings[warningsShown_].English()) << "\n";
}

int BatchRunner::CardError(std::size_t lineNumber) {
  err_ << "card error";
  if (lineNumber > 0) err_ << " at line " << lineNumber;
  err_ << ": "
       << Cp1252ToUtf8(register_->Card().Failure() ? register_->Card().Failure()->English() : "")
       << "\n";
  return kBatchCardError;
}

int BatchRunner::Run(std::istream& script) {
  if (Result<void> started = Start(); !started) {
    if (register_ != nullptr && register_->Card().Failed()) return CardError(0);
    err_ << "error: " << Cp1252ToUtf8(started.error().English()) << "\n";
    return kBatchFailed;
  }
  int status = RunLines(script);
  // The settings the script changed are written once, at its end, as the window does at close.
  if (Result<void> saved = register_->SaveSettings(); !saved) {
    err_ << "error: " << Cp1252ToUtf8(saved.error().English()) << "\n";
    if (status == kBatchOk) status = kBatchFailed;
  }
  return EndRun(status);
}

int BatchRunner::EndRun(int status) {
  const Register::RunEnd end = register_->EndRun();
  switch (end.kind) {
    case Register::RunEnd::Kind::kWritten:
      if (!end.message) return status;
      err_ << "kasse: " << Cp1252ToUtf8(end.message->English()) << "\n";
      return status == kBatchOk ? kBatchFailed : status;
    case Register::RunEnd::Kind::kRescued:
      err_ << "kasse: " << Cp1252ToUtf8(end.message ? end.message->English() : "") << "\n";
      return kBatchRecordsRescued;
    case Register::RunEnd::Kind::kLost:
      err_ << "kasse: " << Cp1252ToUtf8(end.message ? end.message->English() : "") << "\n"
           << end.recordsText;
      return kBatchRecordsLost;
  }
  return status;
}

int BatchRunner::RunLines(std::istream& script) {
  bool allDone = true;
  std::string text;
  for (std::size_t number = 1; std::getline(script, text); ++number) {
    Result<std::optional<BatchLine>> parsed = ParseBatchLine(Utf8ToCp1252(text));
    Result<void> done;
    if (!parsed) {
      done = parsed.error();
    } else if (parsed->has_value()) {
      // A record held in memory is written before anything else happens, when it can be.
      (void)register_->RetryJournal();
      done = Execute(**parsed);
    }
    register_->ProcessCardEvents();
    PrintNewWarnings();
    if (register_->Card().Failed()) return CardError(number);
    if (!done) {
      err_ << "error: line " << number << ": " << Cp1252ToUtf8(done.error().English()) << "\n";
      allDone = false;
      if (options_.strict) return kBatchFailed;
    }
  }
  return allDone ? kBatchOk : kBatchFailed;
}

Result<void> BatchRunner::Execute(const BatchLine& line) {
  if (register_ == nullptr)
    return MakeError(ErrorKind::kMissingInput, "the register is not started");
  using Group = Result<void> (BatchRunner::*)(const BatchLine&, bool&);
  for (Group group :
       {&BatchRunner::SaleCommand, &BatchRunner::SwitchCommand, &BatchRunner::ReportCommand,
        &BatchRunner::FileCommand, &BatchRunner::OutputCommand}) {
    bool handled = false;
    Result<void> done = (this->*group)(line, handled);
    if (handled) return done;
  }
  return MakeError(ErrorKind::kUnusableInput, "unknown command " + line.command);
}

}  // namespace kasse
