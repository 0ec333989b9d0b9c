#pragma once
// The register's persistent settings (cfg/start.ini below the register home): language,
// operators, the six VAT rates, the tax mode and the two monitor windows.

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/result.h"

namespace kasse {

class RegisterConfig {
 public:
  static constexpr std::size_t kMaxOperatorName = 16;
  static constexpr std::array<const char*, 6> kDefaultRates = {"1900", "0700", "1900",
                                                               "0000", "1070", "0550"};

  explicit RegisterConfig(std::filesystem::path home);
  // The register home the settings belong to.
  const std::filesystem::path& Home() const { return home_; }

  // Reads cfg/start.ini; a missing file or key keeps the default. Returns one report line per
  // value that was refused (a rate that is not four digits keeps its default).
  std::vector<Error> LoadConfiguration();
  // Updates the register's keys in cfg/start.ini, keeping every other line, and replaces the
  // file atomically; kIo naming the file when it cannot be read or written.
  Result<void> SaveConfiguration(FileIo& io = PosixFileIo()) const;

  // Container 1..6: rate text / 10000; any other container 0.0.
  double ContainerRate(int container) const;
  std::array<double, 6> ContainerRates() const;
  const std::string& ActiveOperatorName() const;
  bool IsExclusiveTax() const { return exclusiveTax; }
  std::filesystem::path ConfigPath() const;

  // True for exactly four decimal digits, the only rate text the register takes.
  static bool IsRateText(std::string_view text);

  std::string language = "Deutsch";
  std::string operatorName1 = "ich";
  std::string operatorName2 = "ein anderer";
  int activeOperator = 1;  // not stored
  std::array<std::string, 6> containerRate;
  bool exclusiveTax = false;
  bool showCardMonitor = false;
  bool showFunctionMonitor = false;
  std::string verifyHost = "127.0.0.1:8080";  // [Verify] host: the server of the QR link
  // [Print] rawQueue: the receipt printer's queue; queue names hold no blanks.
  std::string rawQueue = "EPSON_TM-T88IV_Receipt";
  // [Card] patience: how long a card command may take before it counts as unanswered.
  // Milliseconds ("2500", "2500ms") or seconds ("10s"); 10 ms to 600 s.
  std::chrono::milliseconds cardPatience{10000};
  // As the file wrote it; empty when the file has none (nothing is written back then).
  std::string cardPatienceText;

  // Nothing when the text is not a patience in range.
  static Result<std::chrono::milliseconds> ParsePatience(std::string_view text);

  // The section of cfg/lang.ini a locale asks for: the first of LC_ALL, LC_MESSAGES and LANG
  // that is set and not empty names it ("de_AT.UTF-8" Deutsch, "en_GB" English, "fr_CA"
  // Francais, "pl_PL" Polish); any other language, "C", "POSIX" or none: Deutsch.
  static std::string LanguageOfLocale(std::string_view lcAll, std::string_view lcMessages,
                                      std::string_view lang);
  // The same for this process's environment: the language a new home starts in.
  static std::string LanguageOfLocale();

 private:
  std::filesystem::path home_;
};

}  // namespace kasse
