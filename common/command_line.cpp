#include "common/command_line.h"

#include <getopt.h>

#include <algorithm>

namespace kasse {
namespace {

// getopt_long gives a long option this value plus its index among the specs: above every
// character, so a short option's letter is never mistaken for one.
constexpr int kLongBase = 256;

Error Problem(std::string message) {
  return MakeError(ErrorKind::kUnusableInput, std::move(message));
}

// The name written, "--name" of "--name=value", or "-x" of a short option.
std::string Written(const std::string& word) {
  return word.substr(0, word.find('='));
}

// getopt_long tells an unknown name and an ambiguous start apart only in its own messages,
// which name no program: this says which it was.
Error UnknownOption(const std::string& word, std::span<const OptionSpec> specs) {
  const std::string written = Written(word);
  if (written.starts_with("--")) {
    const std::string_view start = std::string_view(written).substr(2);
    std::string candidates;
    for (const OptionSpec& spec : specs) {
      if (spec.name.starts_with(start))
        candidates += (candidates.empty() ? "--" : ", --") + std::string(spec.name);
    }
    if (candidates.find(',') != std::string::npos)
      return Problem("ambiguous option '" + written + "' (" + candidates + ")");
  }
  return Problem("unknown option '" + written + "'");
}

int SpecIndex(int code, std::span<const OptionSpec> specs) {
  if (code >= kLongBase) return code - kLongBase;
  const auto found = std::find_if(specs.begin(), specs.end(),
                                  [code](const OptionSpec& spec) { return spec.letter == code; });
  return found == specs.end() ? -1 : static_cast<int>(found - specs.begin());
}

}  // namespace

bool CommandLine::Has(std::string_view name) const {
  return std::any_of(options.begin(), options.end(),
                     [name](const GivenOption& option) { return option.name == name; });
}

Result<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                     std::span<const OptionSpec> specs) {
  // getopt_long wants NUL-terminated names and a writable argv, which it reorders.
  std::vector<std::string> names;
  std::string letters = ":";  // ':' first: a missing value is told apart from an unknown option
  for (const OptionSpec& spec : specs) {
    names.emplace_back(spec.name);
    if (spec.letter != '\0') letters += std::string(1, spec.letter) + (spec.takesValue ? ":" : "");
  }
  std::vector<option> longs;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    longs.push_back({names[i].c_str(), specs[i].takesValue ? required_argument : no_argument,
                     nullptr, kLongBase + static_cast<int>(i)});
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  std::vector<std::string> words{"program"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  CommandLine line;
  const int argc = static_cast<int>(words.size());
  opterr = 0;
  optind = 0;  // 0, not 1: glibc then forgets every earlier command line it read
  for (int code;
       (code = getopt_long(argc, argv.data(), letters.c_str(), longs.data(), nullptr)) != -1;) {
    if (code == '?' || code == ':') {
      const std::string word = optind > 0 && optind <= argc ? argv[optind - 1] : "";
      const int index = optopt == 0 ? -1 : SpecIndex(optopt, specs);
      if (index < 0)
        return UnknownOption(optopt == 0 ? word : std::string("-") + static_cast<char>(optopt),
                             specs);
      const std::string name = "--" + std::string(specs[index].name);
      if (code == ':') return Problem("option '" + name + "' needs a value");
      return Problem("option '" + name + "' takes no value");
    }
    const int index = SpecIndex(code, specs);
    line.options.push_back({specs[index].name, optarg != nullptr ? optarg : ""});
  }
  for (int i = optind; i < argc; ++i)
    line.operands.emplace_back(argv[i]);
  return line;
}

Error BadOptionValue(const GivenOption& option, std::string_view expected) {
  return Problem("bad value '" + option.value + "' for --" + std::string(option.name) +
                 " (expected " + std::string(expected) + ")");
}

std::string UsageLine(std::string_view program, std::string_view problem) {
  std::string line(program);
  line += ": ";
  line += problem;
  line += "; try '";
  line += program;
  line += " --help'\n";
  return line;
}

std::string VersionText(std::string_view program, std::string_view version) {
  return std::string(program) + " " + std::string(version) +
         "\nCopyright 2026 the Kasse developers.\n"
         "Licensed under the Apache License, Version 2.0: "
         "https://www.apache.org/licenses/LICENSE-2.0\n";
}

}  // namespace kasse
