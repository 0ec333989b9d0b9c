#pragma once
// The command line of the programs, read as GNU programs read theirs (glibc's getopt_long):
// "-h" beside "--help", "--name value" and "--name=value", an unambiguous start of a long name
// ("--ho" for "--home"), operands between the options, and "--" ending the options. The
// caller gets the options in the order given, so a repeatable option repeats, and checks their
// values itself. getopt_long keeps its state in globals: read a command line from one thread.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace kasse {

struct OptionSpec {
  std::string_view name;  // the long name, without "--"
  bool takesValue = false;
  char letter = '\0';  // its short form ('h' for -h), or none
};

struct GivenOption {
  std::string_view name;  // the name of its OptionSpec
  std::string value;      // empty for an option without a value
};

struct CommandLine {
  std::vector<GivenOption> options;
  std::vector<std::string> operands;  // in their order, those after "--" included

  bool Has(std::string_view name) const;
};

// `args` without the program name. A usage error (kUnusableInput) says what is wrong in a few
// words: "unknown option '--x'", "option '--home' needs a value", "option '--strict' takes no
// value", "ambiguous option '--s' (--seed, --strict)".
Result<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                     std::span<const OptionSpec> specs);

// The usage error of an option whose value does not fit: "bad value 'x' for --card (expected
// pcsc or sim)".
Error BadOptionValue(const GivenOption& option, std::string_view expected);

// The one line a program writes for a usage error (then it ends with status 2):
// "kasse: unknown option '--x'; try 'kasse --help'".
std::string UsageLine(std::string_view program, std::string_view problem);

// What `--version` prints: "PROGRAM VERSION", then the copyright and the licence.
std::string VersionText(std::string_view program, std::string_view version);

}  // namespace kasse
