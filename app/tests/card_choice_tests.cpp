// Where kasse takes the user's card when no --card names it: through pcscd while another
// process holds the card's lock (as qor-sim does), inside the register otherwise; and the card
// it builds for the register.

#include "app/main/card_choice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/kasse_options.h"
#include "common/file_io.h"
#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/support/test_folders.h"
#include "register/messages.h"
#include "register/register.h"
#include "sim/card_files.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

CardOptions CardAt(const fs::path& stateFile) {
  CardOptions card;
  card.stateFile = stateFile;
  return card;
}

// Holds the card as qor-sim does while it serves it.
Result<sim::CardLock> HoldAsQorSim(const fs::path& stateFile) {
  return sim::CardLock::Acquire(sim::CardPaths(stateFile), PosixFileIo());
}

TEST(CardChoice, AFreeCardIsHeldInsideTheRegisterAndLookingLeavesNoTrace) {
  const fs::path folder = testing::FreshFolder() / "state";
  const fs::path stateFile = folder / "card-v2.state";
  const CardChoice choice = ChooseCard(CardAt(stateFile), false);
  EXPECT_TRUE(choice.card.simulated);
  EXPECT_EQ(choice.card.stateFile, stateFile);
  ASSERT_TRUE(choice.note);
  EXPECT_TRUE(choice.note->Is(msg::kCardChosenInRegister));
  EXPECT_EQ(choice.note->English(),
            "card: the simulated card " + stateFile.string() + ", inside the register");
  EXPECT_FALSE(fs::exists(folder));  // no lock file, no folder made by looking
}

TEST(CardChoice, ACardHeldByAnotherProcessIsReachedThroughPcscd) {
  const fs::path stateFile = testing::FreshFolder() / "card-v2.state";
  {
    Result<sim::CardLock> held = HoldAsQorSim(stateFile);
    ASSERT_TRUE(held) << held.error().English();
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(CardLockHolder(stateFile), pid);
    const CardChoice choice = ChooseCard(CardAt(stateFile), false);
    EXPECT_FALSE(choice.card.simulated);
    ASSERT_TRUE(choice.note);
    EXPECT_TRUE(choice.note->Is(msg::kCardChosenThroughPcscd));
    EXPECT_EQ(choice.note->English(), "card: through pcscd, as process " + pid +
                                          " holds the simulated card " + stateFile.string() +
                                          " (qor-sim serves it on the vpcd reader)");
    ASSERT_EQ(choice.note->args.size(), 2u);
    EXPECT_EQ(choice.note->args[0].text, stateFile.string());
    EXPECT_EQ(choice.note->args[1].text, pid);
    // Looking did not take the lock from its holder, nor change what it wrote.
    EXPECT_EQ(CardLockHolder(stateFile), pid);
  }
  // Let go (qor-sim stopped, killed or crashed): the lock file stays, the card is free.
  ASSERT_TRUE(fs::exists(stateFile.string() + ".lock"));
  EXPECT_FALSE(CardLockHolder(stateFile));
  EXPECT_TRUE(ChooseCard(CardAt(stateFile), false).card.simulated);
  // And the register may hold it again.
  EXPECT_TRUE(HoldAsQorSim(stateFile));
}

TEST(CardChoice, TheCardOfTheVersionLevelIsTheOneLookedAt) {
  const fs::path folder = testing::FreshFolder();
  const char* given = std::getenv("XDG_STATE_HOME");
  const std::optional<std::string> previous =
      given != nullptr ? std::optional<std::string>(given) : std::nullopt;
  ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
  Result<sim::CardLock> held = HoldAsQorSim(folder / "kasse" / "card-v1.state");
  ASSERT_TRUE(held) << held.error().English();
  CardOptions card;
  card.simVersion = 1;
  EXPECT_FALSE(ChooseCard(card, false).card.simulated);
  card.simVersion = 2;
  EXPECT_TRUE(ChooseCard(card, false).card.simulated);
  if (previous)
    ::setenv("XDG_STATE_HOME", previous->c_str(), 1);
  else
    ::unsetenv("XDG_STATE_HOME");
}

TEST(CardChoice, ANamedCardIsKeptAsNamedWithoutANote) {
  const fs::path stateFile = testing::FreshFolder() / "card-v2.state";
  Result<sim::CardLock> held = HoldAsQorSim(stateFile);
  ASSERT_TRUE(held);
  CardOptions sim = CardAt(stateFile);
  const CardChoice inside = ChooseCard(sim, true);
  EXPECT_TRUE(inside.card.simulated);  // and it will say the card is in use, as asked
  EXPECT_FALSE(inside.note);
  CardOptions pcsc = CardAt(testing::NewFolder() / "free.state");
  pcsc.simulated = false;
  const CardChoice through = ChooseCard(pcsc, true);
  EXPECT_FALSE(through.card.simulated);
  EXPECT_FALSE(through.note);
}

TEST(CardChoice, ALockThatIsNotAPlainFileOrHoldsNoNumberIsReadSafely) {
  const fs::path folder = testing::FreshFolder();
  // A link in place of the lock is not followed: the register's own try will name it.
  fs::create_symlink(folder / "elsewhere", folder / "linked.state.lock");
  EXPECT_FALSE(CardLockHolder(folder / "linked.state"));
  // A holder that wrote something else is still a holder; its number is unknown.
  const fs::path stateFile = folder / "odd.state";
  Result<sim::CardLock> held = HoldAsQorSim(stateFile);
  ASSERT_TRUE(held);
  std::ofstream(stateFile.string() + ".lock", std::ios::trunc) << std::string(100, 'x');
  EXPECT_EQ(CardLockHolder(stateFile), "?");
}

// The simulated card lives in the user's state folder, or in the file named; when it cannot
// start, the register says why instead of "no card found".
TEST(CardBackend, TheSimulatedCardLivesInTheStateFolderAndItsStartErrorIsShown) {
  const fs::path home = testing::FreshHome();  // the user's state folder is in it
  RegisterOptions options;
  options.home = home;
  {
    Register reg(options, MakeCardBackend(CardOptions{}));
    ASSERT_TRUE(reg.Start());
    EXPECT_TRUE(reg.Card().InRegister());
    EXPECT_TRUE(fs::exists(home / "card-state" / "kasse" / "card-v2.state"));
    EXPECT_FALSE(fs::exists(home / "qor-sim"));
    // A second register on the same card, while the first holds it.
    Register second(options, MakeCardBackend(CardOptions{}));
    const auto started = second.Start();
    ASSERT_FALSE(started);
    EXPECT_NE(started.error().English().find("the card is in use by process"), std::string::npos)
        << started.error().English();
  }
  ASSERT_TRUE(WriteFileAtomic(home / "qor-sim", "a program, not a folder"));
  Register reg(options, MakeCardBackend(CardAt(home / "qor-sim" / "card-v2.state")));
  const auto started = reg.Start();
  ASSERT_FALSE(started);
  EXPECT_NE(started.error().English().find((home / "qor-sim").string() + ": Not a directory"),
            std::string::npos)
      << started.error().English();
  CardOptions pcsc;
  pcsc.simulated = false;
  EXPECT_FALSE(MakeCardBackend(pcsc)->InProcess());
}

// What the simulated card says on its own reaches the register as a warning.
TEST(CardBackend, TheSimulatedCardsNoticesAreTheRegistersWarnings) {
  const fs::path home = testing::FreshHome();
  const fs::path folder = testing::FreshFolder() / "loose";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms(0755));
  RegisterOptions options;
  options.home = home;
  Register reg(options, MakeCardBackend(CardAt(folder / "card-v2.state")));
  ASSERT_TRUE(reg.Start());
  std::string warnings;
  for (const std::string& warning : EnglishTexts(reg.Warnings()))
    warnings += warning + "\n";
  EXPECT_NE(warnings.find("the folder " + folder.string() + " is open to other users"),
            std::string::npos)
      << warnings;
}

TEST(KasseOptions, OnlyAGivenCardOptionNamesTheCard) {
  EXPECT_FALSE(ParseKasseOptions({})->cardNamed);
  EXPECT_FALSE(ParseKasseOptions({"--card-state", "/c", "--sim-version", "1"})->cardNamed);
  EXPECT_TRUE(ParseKasseOptions({"--card", "sim"})->cardNamed);
  EXPECT_TRUE(ParseKasseOptions({"--card=pcsc"})->cardNamed);
}

}  // namespace
}  // namespace kasse
