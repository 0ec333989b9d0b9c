#include "register/register_config.h"

#include <algorithm>
#include <cstdlib>

#include "common/amount.h"
#include "common/cp1252.h"
#include "common/ini_file.h"
#include "register/messages.h"

namespace kasse {

namespace {

std::string RateKey(std::size_t index) {
  return "container" + std::to_string(index + 1);
}

// What the file holds but the register cannot read is named, never dropped without a word.
void ReportUnreadLines(const IniFile& file, std::vector<Error>& report) {
  constexpr std::size_t kNamed = 3;
  const std::vector<std::size_t>& lines = file.UnreadLines();
  for (std::size_t i = 0; i < lines.size() && i < kNamed; ++i)
    report.push_back(
        MakeError(ErrorKind::kMalformed, msg::kConfigLineSkipped, {std::to_string(lines[i])}));
  if (lines.size() > kNamed)
    report.push_back(MakeError(ErrorKind::kMalformed, msg::kConfigMoreLinesSkipped,
                               {std::to_string(lines.size() - kNamed)}));
  if (file.HasSection(""))
    report.push_back(MakeError(ErrorKind::kMalformed, msg::kConfigKeysBeforeSection));
}

}  // namespace

RegisterConfig::RegisterConfig(std::filesystem::path home) : home_(std::move(home)) {
  for (std::size_t i = 0; i < containerRate.size(); ++i)
    containerRate[i] = kDefaultRates[i];
}

std::filesystem::path RegisterConfig::ConfigPath() const {
  return home_ / "cfg" / "start.ini";
}

bool RegisterConfig::IsRateText(std::string_view text) {
  return text.size() == 4 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<Error> RegisterConfig::LoadConfiguration() {
  std::vector<Error> report;
  Result<IniFile> loaded = IniFile::Load(ConfigPath());
  if (!loaded) {
    // No file: the defaults, silently; a file that cannot be read: the defaults, with a word.
    std::error_code missing;
    if (std::filesystem::symlink_status(ConfigPath(), missing).type() !=
        std::filesystem::file_type::not_found)
      report.push_back(
          MakeError(ErrorKind::kIo, loaded.error().English() + "; the default settings are used"));
    return report;
  }
  const IniFile& file = *loaded;
  if (file.WasUtf8()) report.push_back(Utf8FileNotice("cfg/start.ini"));
  ReportUnreadLines(file, report);
  // An empty name would select no section at all.
  if (std::string act = file.GetString("Languages", "act", ""); !act.empty()) language = act;
  // The edit fields hold at most 16 characters.
  operatorName1 = file.GetString("CFG", "operator", operatorName1).substr(0, kMaxOperatorName);
  operatorName2 = file.GetString("CFG", "operator2", operatorName2).substr(0, kMaxOperatorName);
  for (std::size_t i = 0; i < containerRate.size(); ++i) {
    const std::optional<std::string> rate = file.Get("Tax", RateKey(i));
    if (!rate) continue;
    if (IsRateText(*rate)) {
      containerRate[i] = *rate;
    } else {
      report.push_back(MakeError(ErrorKind::kUnusableInput, msg::kConfigRateNotUsable,
                                 {RateKey(i), *rate, containerRate[i]}));
    }
  }
  exclusiveTax = file.GetBool("TaxMode", "ExklSteuer", exclusiveTax);
  showCardMonitor = file.GetBool("Windows", "Card", showCardMonitor);
  showFunctionMonitor = file.GetBool("Windows", "Func", showFunctionMonitor);
  if (std::string host = file.GetString("Verify", "host", ""); !host.empty()) verifyHost = host;
  if (std::string queue = file.GetString("Print", "rawQueue", ""); !queue.empty()) rawQueue = queue;
  if (std::optional<std::string> patience = file.Get("Card", "patience")) {
    if (const Result<std::chrono::milliseconds> parsed = ParsePatience(*patience)) {
      cardPatience = *parsed;
      cardPatienceText = *patience;
    } else {
      report.push_back(MakeError(ErrorKind::kUnusableInput,
                                 "cfg/start.ini: [Card] patience=" + *patience +
                                     " is not a time from 10 ms to 600 s (e.g. 10s or 2500ms); " +
                                     std::to_string(cardPatience.count()) + " ms is used"));
    }
  }
  return report;
}

Result<void> RegisterConfig::SaveConfiguration(FileIo& io) const {
  // The register's keys change in place; comments and what other versions or the user added
  // stay. A file that is there but cannot be read is not overwritten.
  IniFile file;
  std::error_code missing;
  if (std::filesystem::symlink_status(ConfigPath(), missing).type() !=
      std::filesystem::file_type::not_found) {
    Result<IniFile> loaded = IniFile::Load(ConfigPath());
    if (!loaded)
      return MakeError(ErrorKind::kIo, "The settings are not saved: " + loaded.error().English());
    file = std::move(*loaded);
  }
  file.Set("Languages", "act", language);
  file.Set("CFG", "operator", operatorName1);
  file.Set("CFG", "operator2", operatorName2);
  for (std::size_t i = 0; i < containerRate.size(); ++i)
    file.Set("Tax", RateKey(i), containerRate[i]);
  file.SetBool("TaxMode", "ExklSteuer", exclusiveTax);
  file.SetBool("Windows", "Card", showCardMonitor);
  file.SetBool("Windows", "Func", showFunctionMonitor);
  file.Set("Verify", "host", verifyHost);
  file.Set("Print", "rawQueue", rawQueue);
  if (!cardPatienceText.empty()) file.Set("Card", "patience", cardPatienceText);
  Result<void> saved = file.Save(ConfigPath(), io);
  if (!saved)
    return MakeError(ErrorKind::kIo, "The settings are not saved: " + saved.error().English());
  return {};
}

Result<std::chrono::milliseconds> RegisterConfig::ParsePatience(std::string_view text) {
  const auto notATime = [] {
    return MakeError(ErrorKind::kMalformed, "not a time from 10 ms to 600 s (e.g. 10s or 2500ms)");
  };
  std::int64_t scale = 1;
  if (text.size() > 2 && text.substr(text.size() - 2) == "ms") {
    text.remove_suffix(2);
  } else if (text.size() > 1 && text.back() == 's') {
    text.remove_suffix(1);
    scale = 1000;
  }
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return notATime();
  const Result<std::int64_t> value = ParseInteger(text);
  if (!value) return notATime();
  const std::chrono::milliseconds patience(*value * scale);
  if (patience < std::chrono::milliseconds(10) || patience > std::chrono::seconds(600))
    return notATime();
  return patience;
}

std::string RegisterConfig::LanguageOfLocale(std::string_view lcAll, std::string_view lcMessages,
                                             std::string_view lang) {
  std::string_view locale = !lcAll.empty() ? lcAll : !lcMessages.empty() ? lcMessages : lang;
  // language[_territory][.codeset][@modifier]
  locale = locale.substr(0, locale.find_first_of("_.@"));
  std::string code(locale);
  std::transform(code.begin(), code.end(), code.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (code == "en") return "English";
  if (code == "fr") return "Francais";
  if (code == "pl") return "Polish";
  return "Deutsch";
}

std::string RegisterConfig::LanguageOfLocale() {
  const auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string_view(value != nullptr ? value : "");
  };
  return LanguageOfLocale(variable("LC_ALL"), variable("LC_MESSAGES"), variable("LANG"));
}

double RegisterConfig::ContainerRate(int container) const {
  if (container < 1 || container > 6) return 0.0;
  const std::string& text = containerRate[static_cast<std::size_t>(container - 1)];
  if (!IsRateText(text)) return 0.0;
  const Result<std::int64_t> hundredths = ParseInteger(text);
  if (!hundredths) return 0.0;
  return static_cast<double>(*hundredths) / 10000.0;
}

std::array<double, 6> RegisterConfig::ContainerRates() const {
  std::array<double, 6> rates{};
  for (int c = 1; c <= 6; ++c)
    rates[static_cast<std::size_t>(c - 1)] = ContainerRate(c);
  return rates;
}

const std::string& RegisterConfig::ActiveOperatorName() const {
  return activeOperator == 1 ? operatorName1 : operatorName2;
}

}  // namespace kasse
