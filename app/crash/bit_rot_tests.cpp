// Bit rot in every kind of file the register and its card keep: one byte of one file flipped,
// then a restart and one sale. Never a crash, never a number twice, never a damaged file
// rewritten; each case is refused with the file named, or harmless: the same receipt as from
// the files unharmed, or, in the files an operator edits (settings, language, product list),
// a value the register takes as if it had been typed.
//
// KASSE_BITROT_POSITIONS: how many places of each file (spread over it; 0: every place of a
// file under 4 kB and 200 of a larger one, as scripts/faults runs it). CI flips fewer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "app/crash/crash_states.h"
#include "app/crash/one_disk.h"
#include "app/crash/recorded_disk.h"
#include "common/base_n.h"
#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/support/test_folders.h"
#include "journal/journal_scan.h"
#include "protocol/card_answers.h"
#include "register/register.h"
#include "simreader/embedded_card.h"

namespace kasse::crash {
namespace {

namespace fs = std::filesystem;

AppDateTime FixedNow() {
  return ToAppDateTime(CivilDateTime{2026, 12, 7, 11, 30, 0, 0});
}

RegisterOptions FixedOptionsAt(const fs::path& root, FileIo* io) {
  RegisterOptions options = OptionsAt(root, io);
  options.now = FixedNow;
  return options;
}

// The files of a register after a few sales and a closing, as a power cut right before its
// orderly end leaves them: the card's log still holds its records, none was compacted away.
DiskImage Baseline(const fs::path& root) {
  fs::create_directories(root);
  fs::copy(fs::path(KASSE_SOURCE_DIR) / "home", root / "home", fs::copy_options::recursive);
  const DiskImage initial = ReadImage(root);
  RecordingFileIo io(root, initial);
  {
    const RegisterOptions options = FixedOptionsAt(root, &io);
    Register reg(options, CardAt(root, &io));
    EXPECT_TRUE(reg.Start());
    for (int sale = 0; sale < 4; ++sale) {
      EXPECT_TRUE(reg.BookProduct(static_cast<std::size_t>(sale), "2"));
      EXPECT_TRUE(reg.Summe());
      EXPECT_TRUE(reg.Kassieren());
      if (sale == 1) {
        EXPECT_TRUE(reg.DailyClosing(ClosingKind::kSigned));
      }
    }
    EXPECT_TRUE(reg.SaveSettings());
    (void)reg.EndRun();
  }
  const std::vector<DiskOp> ops = io.Ops();
  // Up to the orderly end's snapshot, every write kept.
  std::size_t cut = ops.size();
  for (std::size_t i = 0; i < ops.size(); ++i)
    if (ops[i].kind == DiskOp::Kind::kCreate &&
        ops[i].path.filename().string().starts_with(".card"))
      cut = i;
  return CrashModel(initial, ops).KeptStateAt(cut);
}

struct Outcome {
  bool started = false;
  std::string refusal;   // the error that stopped the start or the sale
  std::string warnings;  // what the register said at start besides
  std::string receipt;
  std::vector<std::uint64_t> numbers;  // the card's answers in the new journals
};

std::vector<std::uint64_t> NewNumbers(const fs::path& home, const DiskImage& before) {
  std::vector<std::uint64_t> numbers;
  for (const auto& entry : fs::directory_iterator(home / "Journal")) {
    const fs::path relative = fs::path("home") / "Journal" / entry.path().filename();
    if (!entry.path().string().ends_with("S.xml") || before.files.count(relative)) continue;
    const Result<std::string> read = ReadFile(entry.path());
    if (!read) continue;
    for (const char* element : {"transactionResponse", "transactionRejected"})
      for (std::size_t at = 0;;) {
        const std::optional<std::string_view> answer = ChildText(*read, element, at);
        if (!answer) break;
        at = static_cast<std::size_t>(answer->data() - read->data()) + answer->size();
        if (const Result<Bytes> bytes = Base64Decode(*answer))
          if (const auto answered = ReadTransactionAnswer(*bytes))
            numbers.push_back(answered->seqNo);
      }
  }
  return numbers;
}

Outcome Restart(const DiskImage& image, const fs::path& where) {
  Materialise(image, where);
  Outcome outcome;
  {
    UnsyncedFileIo io;
    const RegisterOptions options = FixedOptionsAt(where, &io);
    Register reg(options, CardAt(where, &io));
    const Result<void> started = reg.Start();
    outcome.started = static_cast<bool>(started);
    for (const std::string& warning : EnglishTexts(reg.Warnings()))
      outcome.warnings += warning + "\n";
    if (!started) outcome.refusal = started.error().English();
    if (started) {
      Result<void> sold = reg.BookProduct(0, "1");
      if (sold) sold = reg.Summe();
      if (sold) sold = reg.Kassieren();
      if (!sold) outcome.refusal = sold.error().English();
      outcome.receipt = reg.CurrentSale().ReceiptText();
    }
    (void)reg.EndRun();
  }
  outcome.numbers = NewNumbers(where / "home", image);
  return outcome;
}

// The places of a file to flip: every one of a small file, else `count` spread over it.
std::vector<std::size_t> Places(std::size_t size, std::size_t count) {
  std::vector<std::size_t> places;
  if (size == 0) return places;
  if (count == 0) count = size < 4096 ? size : 200;
  count = std::min(count, size);
  for (std::size_t i = 0; i < count; ++i)
    places.push_back(i * size / count);
  return places;
}

bool EditedByAnOperator(const fs::path& file) {
  const std::string name = file.filename().string();
  return name == "start.ini" || name == "lang.ini" ||
         (file.extension() == ".xml" && file.parent_path().filename() == "Produkte");
}

struct Tally {
  std::size_t flips = 0, refused = 0, harmless = 0;
};

TEST(BitRot, EveryFlipIsRefusedWithItsFileNamedOrHarmlessAndNoNumberComesTwice) {
  const fs::path folder = testing::FreshFolder();
  const DiskImage baseline = Baseline(folder / "run");
  const Outcome unharmed = Restart(baseline, folder / "unharmed");
  ASSERT_TRUE(unharmed.started) << unharmed.refusal;
  ASSERT_TRUE(unharmed.refusal.empty()) << unharmed.refusal;
  ASSERT_EQ(unharmed.numbers.size(), 1u);
  const std::uint64_t given = unharmed.numbers.front() - 1;  // the numbers the card gave before

  const char* positions = std::getenv("KASSE_BITROT_POSITIONS");
  const std::size_t count = positions != nullptr ? std::strtoull(positions, nullptr, 10) : 12;
  std::map<std::string, Tally> tallies;
  std::vector<std::string> problems;
  std::size_t run = 0;
  for (const auto& [file, contents] : baseline.files) {
    if (file.filename() == ".keep") continue;
    for (const std::size_t place : Places(contents.size(), count)) {
      DiskImage flipped = baseline;
      flipped.files[file][place] = static_cast<char>(contents[place] ^ (1 << (place % 8)));
      const fs::path where = folder / ("flip" + std::to_string(run++));
      const Outcome outcome = Restart(flipped, where);
      Tally& tally = tallies[file.string()];
      ++tally.flips;
      const std::string at = file.string() + " @" + std::to_string(place) + ": ";
      for (const std::uint64_t number : outcome.numbers)
        if (number <= given)
          problems.push_back(at + "the card gave number " + std::to_string(number) + " again");
      // A file the register reads aside (the product list) is refused by a warning.
      const std::string said = outcome.refusal + "\n" + outcome.warnings;
      const bool named = said.find(file.filename().string()) != std::string::npos;
      if ((!outcome.refusal.empty() || !outcome.warnings.empty()) && named) {
        ++tally.refused;
        // What was refused is left as it was: the evidence stays.
        if (ReadFile(where / file).value() != flipped.files[file])
          problems.push_back(at + "refused, but the file was rewritten");
      } else if (outcome.refusal.empty() &&
                 (outcome.receipt == unharmed.receipt || EditedByAnOperator(file))) {
        ++tally.harmless;
      } else {
        problems.push_back(at + (outcome.refusal.empty()
                                     ? "taken, but the receipt differs"
                                     : "refused without naming the file: " + outcome.refusal));
      }
      if (file.parent_path().filename() == "Journal" &&
          ReadFile(where / file).value() != flipped.files[file])
        problems.push_back(at + "a journal was rewritten");
      fs::remove_all(where);
    }
  }
  std::ostringstream summary;
  for (const auto& [file, tally] : tallies)
    summary << file << ": " << tally.flips << " flips, " << tally.refused << " refused, "
            << tally.harmless << " harmless\n";
  std::cout << summary.str();
  for (const std::string& problem : problems)
    ADD_FAILURE() << problem;
}

}  // namespace
}  // namespace kasse::crash
