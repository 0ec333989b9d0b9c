// Power cuts explored, not sampled: a mass run with a daily closing, register and embedded card
// on one recorded disk; then, for every sync point and for random cuts between them, the files
// a power cut would have left, a restart of card and register on them, one more sale, and the
// two promises checked: the card never gives out a number twice, and every number it counted is
// in the journal (with its answer, its refusal, or as a request without an answer). Every
// journal must read, every audit finding be one a cut explains, every start work or refuse
// with a named file.
//
// KASSE_CRASH_STATES sets how many random cuts are explored besides the sync points (CI: a
// few hundred; scripts/faults: 10,000 or more); KASSE_CRASH_SEED the seed.

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstdlib>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include "app/crash/crash_states.h"
#include "app/crash/one_disk.h"
#include "app/crash/recorded_disk.h"
#include "common/base_n.h"
#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "journal/journal_scan.h"
#include "protocol/card_answers.h"
#include "register/register.h"
#include "simreader/embedded_card.h"
#include "verify/journal_audit.h"

namespace kasse::crash {
namespace {

namespace fs = std::filesystem;

constexpr int kSales = 50;

std::size_t FromEnvironment(const char* name, std::size_t otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : otherwise;
}

// The card with its snapshots explored too; `silentRepair` puts back its old silent repair of
// a damaged log.
std::unique_ptr<EmbeddedCard> ExploredCardAt(const fs::path& root, FileIo* io,
                                             bool silentRepair = false) {
  sim::EngineOptions engine;
  engine.snapshotEvery = 16;
  engine.testSilentLogRepair = silentRepair;
  return CardAt(root, io, engine);
}

struct Recording {
  DiskImage initial;
  std::vector<DiskOp> ops;
};

// The mass run on the recorded disk: the card made, 50 sales, a signed daily closing, the
// settings written and the register closed in order.
Recording RecordRun(const fs::path& root) {
  fs::create_directories(root);
  fs::copy(fs::path(KASSE_SOURCE_DIR) / "home", root / "home", fs::copy_options::recursive);
  Recording recording;
  recording.initial = ReadImage(root);
  RecordingFileIo io(root, recording.initial);
  {
    const RegisterOptions options = OptionsAt(root, &io);
    Register reg(options, ExploredCardAt(root, &io));
    EXPECT_TRUE(reg.Start());
    Register::MassOptions mass;
    mass.transactions = kSales;
    mass.maxPositions = 3;
    mass.stornoChance = 5;
    const Result<int> sold = reg.MassTransactions(mass, nullptr, {});
    EXPECT_TRUE(sold && *sold == kSales);
    EXPECT_TRUE(reg.DailyClosing(ClosingKind::kSigned));
    EXPECT_TRUE(reg.SaveSettings());
    EXPECT_EQ(reg.EndRun().kind, Register::RunEnd::Kind::kWritten);
  }
  recording.ops = io.Ops();
  return recording;
}

// The transaction numbers the card answered in the journals of `home` that `before` did not
// hold (the restart's own records), refused ones included.
std::vector<std::uint64_t> NewAnswers(const fs::path& home, const DiskImage& before) {
  std::vector<std::uint64_t> numbers;
  for (const auto& entry : fs::directory_iterator(home / "Journal")) {
    const fs::path relative = fs::path("home") / "Journal" / entry.path().filename();
    if (!entry.path().string().ends_with("S.xml") || before.files.count(relative)) continue;
    const Result<std::string> read = ReadFile(entry.path());
    const std::string text = read ? *read : std::string();
    for (const char* element : {"transactionResponse", "transactionRejected"}) {
      for (std::size_t at = 0;;) {
        const std::optional<std::string_view> answer = ChildText(text, element, at);
        if (!answer) break;
        at = static_cast<std::size_t>(answer->data() - text.data()) + answer->size();
        if (const Result<Bytes> bytes = Base64Decode(*answer))
          if (const auto answered = ReadTransactionAnswer(*bytes))
            numbers.push_back(answered->seqNo);
      }
    }
  }
  return numbers;
}

// A gap of numbers each of which a request without an answer may have taken.
bool GapOfUnansweredRequests(const std::string& finding) {
  static const std::regex kGap("gap: (.*) missing; the journal holds ([0-9]+) request");
  static const std::regex kRange("([0-9]+)( to ([0-9]+))?");
  std::smatch gap;
  if (!std::regex_search(finding, gap, kGap)) return false;
  std::uint64_t missing = 0;
  const std::string ranges = gap[1];
  for (auto it = std::sregex_iterator(ranges.begin(), ranges.end(), kRange);
       it != std::sregex_iterator(); ++it)
    missing += (*it)[3].matched ? std::stoull((*it)[3]) - std::stoull((*it)[1]) + 1 : 1;
  return missing <= std::stoull(gap[2]);
}

// What a power cut explains: a record cut off or left without its answer or its twin, a file
// or pair left empty, without its closing tag or its parameter block, and the numbers that
// requests without an answer may have taken.
bool ExplainedByACut(const std::string& finding) {
  static const std::regex kExplained(
      "request without an answer|record cut off|no closing tag|not a record here; read up to the "
      "last complete record|empty journal pair|empty [SL] file|no L file|L file without its S "
      "file|L file unusable|no matching (transaction|report) record in the L file|without a "
      "matching S record|the S record has no answer|parameter block differs|no parameter block");
  return std::regex_search(finding, kExplained) || GapOfUnansweredRequests(finding);
}

struct Exploration {
  std::size_t states = 0, refusedStarts = 0;
  std::map<std::string, std::size_t> findings;  // explained findings by kind, for the summary
  std::vector<std::string> problems;
};

void CheckState(const CrashModel& model, std::size_t cut, std::mt19937_64& random,
                const fs::path& where, bool damageLog, bool silentRepair, Exploration& out) {
  DiskImage image = model.StateAt(cut, random);
  const CrashModel::Numbers durable = model.DurableCardNumbers(cut, kCardFile);
  const fs::path log = fs::path("state") / (std::string(kCardFile) + ".log");
  if (damageLog) {
    // Bit rot in the middle of what the card had made durable.
    auto it = image.files.find(log);
    if (it == image.files.end() || it->second.size() < 64) return;
    it->second[it->second.size() / 2] ^= 0x10;
  }
  Materialise(image, where);
  ++out.states;
  const std::string at = "cut " + std::to_string(cut) + ": ";
  const std::size_t problemsBefore = out.problems.size();
  {
    UnsyncedFileIo unsynced;
    const RegisterOptions options = OptionsAt(where, &unsynced);
    Register reg(options, ExploredCardAt(where, &unsynced, silentRepair));
    const Result<void> started = reg.Start();
    if (!started) {
      ++out.refusedStarts;
      if (started.error().English().find(where.string()) == std::string::npos)
        out.problems.push_back(at + "refused without naming a file: " + started.error().English());
    } else {
      (void)reg.BookProduct(0, "1");
      (void)reg.Summe();
      (void)reg.Kassieren();
    }
    (void)reg.EndRun();
  }
  for (const std::uint64_t number : NewAnswers(where / "home", image))
    if (number <= durable.transaction)
      out.problems.push_back(at + "the card gave number " + std::to_string(number) +
                             " again (it had made " + std::to_string(durable.transaction) +
                             " durable)");
  AuditOptions one;
  one.threads = 1;
  const AuditReport audit =
      AuditFiles(JournalPairs(where / "home", LoneLFiles::kList), nullptr, one);
  for (const std::string& file : audit.unusable)
    out.problems.push_back(at + "a journal does not read: " + file);
  for (const AuditFinding& finding : audit.findings) {
    if (ExplainedByACut(finding.text))
      ++out.findings[std::regex_replace(std::regex_replace(finding.text, std::regex("[0-9]+"), "N"),
                                        std::regex("(card|in) [^ ]*XMLExpBak[^ ]*"), "$1 F")
                         .substr(0, 70)];
    else
      out.problems.push_back(at + finding.file + " @" + std::to_string(finding.offset) + ": " +
                             finding.text);
  }
  // A state with a problem stays for a look (under the kept test folder).
  if (out.problems.size() == problemsBefore) fs::remove_all(where);
}

// Every sync point, then `randomCuts` cuts anywhere.
Exploration Explore(const Recording& recording, const fs::path& scratch, std::size_t randomCuts,
                    bool damageLog, bool silentRepair) {
  const CrashModel model(recording.initial, recording.ops);
  std::mt19937_64 random(FromEnvironment("KASSE_CRASH_SEED", 20261207));
  Exploration exploration;
  std::vector<std::size_t> cuts = model.SyncPoints();
  for (std::size_t i = 0; i < randomCuts; ++i)
    cuts.push_back(random() % (model.Calls() + 1));
  for (std::size_t i = 0; i < cuts.size() && exploration.problems.size() < 20; ++i)
    CheckState(model, cuts[i], random, scratch / std::to_string(i), damageLog, silentRepair,
               exploration);
  return exploration;
}

std::string Summary(const Recording& recording, const Exploration& exploration) {
  std::ostringstream text;
  text << recording.ops.size() << " recorded calls; " << exploration.states << " states explored, "
       << exploration.refusedStarts << " refused at start\n";
  for (const auto& [kind, count] : exploration.findings)
    text << "  " << count << "x " << kind << "\n";
  for (const std::string& problem : exploration.problems)
    text << "PROBLEM " << problem << "\n";
  return text.str();
}

// The recording holds what a cut can leave: files, and folders as folders. (A folder taken
// for a file once made every early state unreadable to all but root.)
TEST(CrashExploration, TheRecordingKeepsFoldersApartFromFiles) {
  const fs::path root = testing::FreshFolder();
  RecordingFileIo io(root, DiskImage{});
  ASSERT_TRUE(MakePrivateFolders(root / "state" / "kasse", io));
  const int fd = io.Open(root / "state" / "card.log", O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  io.Close(fd);
  ASSERT_EQ(io.SyncFolder(root / "state"), 0);
  const DiskImage image = CrashModel(DiskImage{}, io.Ops()).KeptStateAt(io.Ops().size());
  EXPECT_EQ(image.files.size(), 1u);
  EXPECT_TRUE(image.files.contains(fs::path("state") / "card.log"));
  for (const fs::path& folder : {fs::path("state"), fs::path("state") / "kasse"})
    EXPECT_FALSE(image.files.contains(folder)) << folder;
  const fs::path copy = testing::FreshFolder() / "copy";
  Materialise(image, copy);
  EXPECT_EQ(fs::status(copy / "state").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
}

TEST(CrashExploration, NoNumberIsGivenTwiceAndNoneIsLostWhereverThePowerIsCut) {
  const fs::path folder = testing::FreshFolder();
  const Recording recording = RecordRun(folder / "run");
  ASSERT_GT(recording.ops.size(), 500u);
  const Exploration exploration = Explore(recording, folder / "states",
                                          FromEnvironment("KASSE_CRASH_STATES", 300), false, false);
  std::cout << Summary(recording, exploration);
  EXPECT_TRUE(exploration.problems.empty()) << Summary(recording, exploration);
  EXPECT_GE(exploration.states, 300u);
}

// With the card's old silent repair of a damaged log put back, the same exploration (each state
// with one flipped byte in the card's log) finds a number given twice; with the card as it is,
// every such start is refused with the log named.
TEST(CrashExploration, CatchesACardThatRepairsItsLogSilently) {
  const fs::path folder = testing::FreshFolder();
  const Recording recording = RecordRun(folder / "run");
  const Exploration silent = Explore(recording, folder / "silent", 40, true, true);
  EXPECT_FALSE(silent.problems.empty()) << Summary(recording, silent);
  bool twice = false;
  for (const std::string& problem : silent.problems)
    twice = twice || problem.find("again") != std::string::npos;
  EXPECT_TRUE(twice) << Summary(recording, silent);

  const Exploration strict = Explore(recording, folder / "strict", 40, true, false);
  EXPECT_TRUE(strict.problems.empty()) << Summary(recording, strict);
  EXPECT_GT(strict.refusedStarts, 0u);
}

}  // namespace
}  // namespace kasse::crash
