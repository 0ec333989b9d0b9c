#include "common/command_line.h"

#include <gtest/gtest.h>

#include <array>

namespace kasse {
namespace {

constexpr std::array<OptionSpec, 5> kSpecs{{
    {"help", false, 'h'},
    {"home", true},
    {"strict", false},
    {"seed", true},
    {"cert", true},
}};

Result<CommandLine> Parse(const std::vector<std::string>& args) {
  return ParseCommandLine(args, kSpecs);
}

std::string ProblemOf(const std::vector<std::string>& args) {
  const Result<CommandLine> line = Parse(args);
  return line ? "" : line.error().English();
}

TEST(CommandLine, ReadsBothValueFormsShortNamesAndOperandsInOrder) {
  const Result<CommandLine> line = Parse(
      {"url", "--home=/a=b", "-h", "--cert", "one", "X", "--cert=two", "--strict", "--seed", "-1"});
  ASSERT_TRUE(line) << line.error().English();
  ASSERT_EQ(line->options.size(), 6u);
  EXPECT_EQ(line->options[0].name, "home");
  EXPECT_EQ(line->options[0].value, "/a=b");  // only the first '=' separates
  EXPECT_EQ(line->options[1].name, "help");
  EXPECT_EQ(line->options[2].value, "one");
  EXPECT_EQ(line->options[3].value, "two");  // a repeated option keeps both, in order
  EXPECT_EQ(line->options[4].name, "strict");
  EXPECT_EQ(line->options[5].value, "-1");  // a value may start with '-'
  EXPECT_EQ(line->operands, (std::vector<std::string>{"url", "X"}));
  EXPECT_TRUE(line->Has("help"));
  EXPECT_FALSE(Parse({})->Has("help"));
}

TEST(CommandLine, DoubleDashEndsTheOptionsAndADashAloneIsAnOperand) {
  const Result<CommandLine> line = Parse({"-", "--strict", "--", "--home", "-h", "--"});
  ASSERT_TRUE(line) << line.error().English();
  ASSERT_EQ(line->options.size(), 1u);
  EXPECT_EQ(line->operands, (std::vector<std::string>{"-", "--home", "-h", "--"}));
}

TEST(CommandLine, AnUnambiguousStartNamesItsOption) {
  const Result<CommandLine> line = Parse({"--ho", "H", "--str"});
  ASSERT_TRUE(line) << line.error().English();
  EXPECT_EQ(line->options[0].name, "home");
  EXPECT_EQ(line->options[1].name, "strict");
  EXPECT_EQ(ProblemOf({"--s"}), "ambiguous option '--s' (--strict, --seed)");
}

TEST(CommandLine, SaysWhatIsWrongInAFewWords) {
  EXPECT_EQ(ProblemOf({"--bogus", "x"}), "unknown option '--bogus'");
  EXPECT_EQ(ProblemOf({"--bogus=x"}), "unknown option '--bogus'");
  EXPECT_EQ(ProblemOf({"-x"}), "unknown option '-x'");
  EXPECT_EQ(ProblemOf({"--home"}), "option '--home' needs a value");
  EXPECT_EQ(ProblemOf({"--strict=1"}), "option '--strict' takes no value");
  // The first fault counts, also after an earlier command line was read.
  EXPECT_EQ(ProblemOf({"--strict", "--nope", "--home"}), "unknown option '--nope'");
}

TEST(CommandLine, UsageLineAndVersionText) {
  EXPECT_EQ(UsageLine("kasse", "unknown option '--x'"),
            "kasse: unknown option '--x'; try 'kasse --help'\n");
  const std::string version = VersionText("qor-sim", "0.1");
  EXPECT_EQ(version.rfind("qor-sim 0.1\nCopyright ", 0), 0u) << version;
  EXPECT_NE(version.find("Apache License, Version 2.0"), std::string::npos) << version;
}

}  // namespace
}  // namespace kasse
