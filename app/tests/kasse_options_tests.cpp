// kasse's command line as a user types it: the usual forms, and one short line for a mistake.

#include <gtest/gtest.h>

#include "app/kasse_options.h"

namespace kasse {
namespace {

using Action = KasseOptions::Action;

std::string ProblemOf(const std::vector<std::string>& args) {
  const Result<KasseOptions> options = ParseKasseOptions(args);
  return options ? "" : options.error().English();
}

TEST(KasseOptions, ReadsEveryOptionInBothValueForms) {
  const Result<KasseOptions> options = ParseKasseOptions(
      {"--batch=-", "--home=/h", "--card", "pcsc", "--card-wait=0", "--sim-version", "1",
       "--sim-lifecycle=2", "--sim-pin=654321", "--card-state", "/c", "--seed=7", "--strict",
       "--demo-sale", "--screenshot", "s.png", "--mass=5"},
      "111111");
  ASSERT_TRUE(options) << options.error().English();
  EXPECT_EQ(options->action, Action::kRun);
  EXPECT_EQ(options->batchScript, "-");
  EXPECT_EQ(options->batch.home, "/h");
  EXPECT_FALSE(options->card.simulated);
  EXPECT_EQ(options->batch.cardWait, std::chrono::seconds(0));
  EXPECT_EQ(options->card.simVersion, 1);
  EXPECT_TRUE(options->card.simPersonalised);
  EXPECT_EQ(options->card.simPin, "654321");  // the option wins over the environment
  EXPECT_EQ(options->card.stateFile, "/c");
  EXPECT_EQ(options->batch.seed, 7u);
  EXPECT_TRUE(options->batch.strict);
  EXPECT_TRUE(options->demoSale);
  EXPECT_EQ(options->screenshot, "s.png");
  EXPECT_EQ(options->massRun, 5);
}

TEST(KasseOptions, DefaultsHelpVersionAndTheEnvironmentPin) {
  const Result<KasseOptions> plain = ParseKasseOptions({}, "246802");
  ASSERT_TRUE(plain) << plain.error().English();
  EXPECT_TRUE(plain->batch.home.empty());  // the user's home, filled in by the program
  EXPECT_TRUE(plain->card.simulated);
  EXPECT_EQ(plain->batch.cardWait, std::chrono::seconds(10));
  EXPECT_EQ(plain->card.simPin, "246802");
  EXPECT_TRUE(plain->batchScript.empty());
  EXPECT_EQ(ParseKasseOptions({"-h"})->action, Action::kHelp);
  EXPECT_EQ(ParseKasseOptions({"--home", "x", "--help"})->action, Action::kHelp);
  EXPECT_EQ(ParseKasseOptions({"--version"})->action, Action::kVersion);
  EXPECT_EQ(ProblemOf({"--batch", "-", "--", "--strict"}), "unexpected argument '--strict'");
  EXPECT_EQ(ParseKasseOptions({"--home", "--", "--batch", "x"})->batch.home, "--");
}

TEST(KasseOptions, AMistakeIsNamedInOneShortLine) {
  EXPECT_EQ(ProblemOf({"--bogus", "x"}), "unknown option '--bogus'");
  EXPECT_EQ(ProblemOf({"--home"}), "option '--home' needs a value");
  EXPECT_EQ(ProblemOf({"--strict=yes"}), "option '--strict' takes no value");
  EXPECT_EQ(ProblemOf({"--card", "usb"}), "bad value 'usb' for --card (expected pcsc or sim)");
  EXPECT_EQ(ProblemOf({"stray"}), "unexpected argument 'stray'");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--sim-version=3"},
                                             {"--sim-lifecycle", "4"},
                                             {"--sim-pin", "12345"},
                                             {"--sim-pin", "12345a"},
                                             {"--card-wait", "-1"},
                                             {"--card-wait", "3601"},
                                             {"--mass", "0"},
                                             {"--seed", "x"},
                                             {"--batch="},
                                             {"--home="}}) {
    EXPECT_NE(ProblemOf(args).find("bad value"), std::string::npos) << args[0];
  }
  EXPECT_EQ(ParseKasseOptions({}, "12345").error().English(), "KASSE_SIM_PIN must be six digits");
  for (const std::string& problem : {ProblemOf({"--bogus"}), ProblemOf({"--card=x"})})
    EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
}

}  // namespace
}  // namespace kasse
