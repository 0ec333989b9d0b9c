// Fixed sales and reports on the embedded card, compared byte for byte with files recorded
// before the register's inner roads were rebuilt: both journal files, every receipt, the QR
// payload of every receipt and both monitors. What a card makes anew each run is masked first:
// its signatures (random ECDSA nonces), its certificate and key identifier, and durations.
//
// To record the files again after a change that is meant to move bytes:
//   KASSE_UPDATE_GOLDEN=1 build/default/bin/register_tests --gtest_filter='Golden.*'
// then read the diff of register/tests/golden/ before committing it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/base_n.h"
#include "common/files.h"
#include "common/hex_text.h"
#include "common/tests/support/test_folders.h"
#include "protocol/qr_payload.h"
#include "register/receipt_lines.h"
#include "register/register.h"
#include "register/tests/sim_card.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

const fs::path kGoldenFolder = fs::path(KASSE_SOURCE_DIR) / "register" / "tests" / "golden";

// 2026-03-14 10:15:00 local time, for every stamp of the run.
AppDateTime FixedNow() {
  return ToAppDateTime(CivilDateTime{2026, 3, 14, 10, 15, 0, 0});
}

// The 48 signature bytes behind 9E 30 in a card answer, zeroed.
Bytes MaskSignature(Bytes answer) {
  for (std::size_t i = 0; i + 50 <= answer.size(); ++i) {
    if (answer[i] != 0x9E || answer[i + 1] != 0x30) continue;
    std::fill(answer.begin() + static_cast<std::ptrdiff_t>(i) + 2,
              answer.begin() + static_cast<std::ptrdiff_t>(i) + 50, 0);
    break;
  }
  return answer;
}

// Replaces the Base64 text of every element `name` by that of its masked answer.
std::string MaskBase64Answers(std::string text, const std::string& name) {
  const std::string open = "<" + name + ">", close = "</" + name + ">";
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
    at += open.size();
    const std::size_t end = text.find(close, at);
    if (end == std::string::npos) break;
    const Result<Bytes> answer = Base64Decode(text.substr(at, end - at));
    if (!answer) continue;
    const std::string masked = Base64Encode(MaskSignature(*answer));
    text.replace(at, end - at, masked);
    at += masked.size();
  }
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

// Every form a signature takes in the register's texts, replaced by a fixed mark.
struct Masks {
  std::vector<Bytes> signatures;
  std::string certificate;

  std::string Apply(std::string text) const {
    text = MaskBase64Answers(std::move(text), "transactionResponse");
    text = MaskBase64Answers(std::move(text), "reportResponse");
    for (std::size_t i = 0; i < signatures.size(); ++i) {
      const std::string mark = "SIG" + std::to_string(i + 1);
      text = Replace(std::move(text), HexCompact(signatures[i]), mark + "-HEX");
      text = Replace(std::move(text), HexWritten(signatures[i]), mark + "-HEX-BLANKS");
      for (const std::string& line : GroupedBase32(signatures[i], true))
        text = Replace(std::move(text), line, mark + "-BASE32");
    }
    text = Replace(std::move(text), certificate, "CERTIFICATE");
    text = std::regex_replace(text, std::regex("<[0-9]+ ms>"), "<N ms>");
    return text;
  }
};

// The signatures in an L file, in order.
std::vector<Bytes> Signatures(const std::string& lText) {
  std::vector<Bytes> found;
  const std::regex sig("<sig>([0-9A-F]{96})</sig>");
  for (auto it = std::sregex_iterator(lText.begin(), lText.end(), sig);
       it != std::sregex_iterator(); ++it)
    found.push_back(HexParse((*it)[1].str()));
  return found;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const std::size_t start = text.find(open);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(close, start + open.size());
  return text.substr(start + open.size(), end - start - open.size());
}

struct GoldenRun {
  std::string record;  // the steps' receipts, URLs and monitors, in order
  std::string s, l;
};

void Step(Register& reg, GoldenRun& run, const std::string& name, const Result<void>& done) {
  run.record += "== " + name + (done ? "" : " failed: " + done.error().English()) + "\n";
  for (const std::string& line : reg.CurrentSale().ReceiptLines())
    run.record += "receipt: " + line + "\n";
  // The URL's t1 carries the signature: its bytes are shown masked instead.
  const std::string& url = reg.LastVerifyUrl();
  const std::size_t at = url.find("t1=");
  run.record += "url: " + url.substr(0, at == std::string::npos ? url.size() : at + 3) + "\n";
  if (at != std::string::npos) {
    const Result<Bytes> payload = DecodeT1(url.substr(at + 3));
    run.record += "qr bytes: " + (payload ? HexCompact(MaskSignature(*payload)) : "?") + "\n";
  }
  run.record += "function monitor:\n" + reg.Monitor().Text() + "\n";
  run.record += "card monitor:\n" + reg.Card().Log().Text() + "\n";
}

GoldenRun FixedRun(const fs::path& folder) {
  const fs::path home = folder / "home";
  fs::copy(fs::path(KASSE_SOURCE_DIR) / "home", home, fs::copy_options::recursive);
  // A state folder of its own: the card gets number 1 from a new issuer.
  ::setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
  GoldenRun run;
  {
    RegisterOptions options;
    options.home = home;
    options.now = FixedNow;
    Register reg(options, testing::SimCard(folder / "state" / "card.state"));
    EXPECT_TRUE(reg.Start());
    reg.SetCardMonitor(Register::CardMonitorState::kShown);
    reg.ClearLog(Register::Log::kCardMonitor);
    reg.ClearLog(Register::Log::kFunctionMonitor);

    // A sale over several containers: quantities, a special position, a cancellation and a
    // discount.
    Step(reg, run, "book", reg.BookProduct(0, "2"));
    Step(reg, run, "book", reg.BookProduct(5, "1.5"));
    SpecialPositionFields special;
    special.name = "Sonder";
    special.quantity = "2";
    special.prices[1] = "1234";
    Step(reg, run, "special", reg.BookSpecial(special));
    Step(reg, run, "book", reg.BookProduct(7, ""));
    Step(reg, run, "storno", reg.Storno(std::nullopt));
    Step(reg, run, "book", reg.BookProduct(3, "3"));
    Step(reg, run, "rabatt", reg.Percentage(PercentSign::kDiscount, "10"));
    Step(reg, run, "summe", reg.Summe());
    Step(reg, run, "kassieren", reg.Kassieren());

    // Training, net prices and the security text on the receipt.
    EXPECT_TRUE(reg.SetSwitch(Register::Switch::kTraining, true));
    EXPECT_TRUE(reg.SetSwitch(Register::Switch::kExclusiveTax, true));
    EXPECT_TRUE(reg.SetSwitch(Register::Switch::kSecurityText, true));
    reg.ClearLog(Register::Log::kCardMonitor);
    Step(reg, run, "book", reg.BookProduct(1, "1"));
    Step(reg, run, "summe", reg.Summe());
    Step(reg, run, "kassieren", reg.Kassieren());

    reg.ClearLog(Register::Log::kCardMonitor);
    Step(reg, run, "daily signed", reg.DailyClosing(ClosingKind::kSigned));
    const Bytes first = PackedReportMonth(1, 2026).value();
    const Bytes last = PackedReportMonth(12, 2026).value();
    reg.ClearLog(Register::Log::kCardMonitor);
    Step(reg, run, "span", reg.SpanReport(first, last));
    reg.ClearLog(Register::Log::kCardMonitor);
    Step(reg, run, "daily unsigned", reg.DailyClosing(ClosingKind::kUnsigned));
  }
  for (const auto& entry : fs::directory_iterator(home / "Journal")) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("S.xml")) run.s = ReadFile(entry.path()).value();
    if (name.ends_with("L.xml")) run.l = ReadFile(entry.path()).value();
  }
  return run;
}

void CompareWithGolden(const std::string& name, const std::string& actual) {
  const fs::path file = kGoldenFolder / name;
  if (std::getenv("KASSE_UPDATE_GOLDEN") != nullptr) {
    fs::create_directories(kGoldenFolder);
    ASSERT_TRUE(WriteFileAtomic(file, actual));
    return;
  }
  const Result<std::string> expected = ReadFile(file);
  ASSERT_TRUE(expected) << expected.error().English();
  EXPECT_EQ(actual, *expected) << "differs from " << file;
}

TEST(Golden, FixedSalesAndReportsMoveNotOneByte) {
  const fs::path folder = testing::FreshFolder();
  GoldenRun run = FixedRun(folder);
  Masks masks;
  masks.signatures = Signatures(run.l);
  masks.certificate = Between(run.s, "<certificate>", "</certificate>");
  ASSERT_EQ(masks.signatures.size(), 4u);  // two sales, the signed closing and the span
  ASSERT_FALSE(masks.certificate.empty());
  CompareWithGolden("steps.txt", masks.Apply(run.record));
  CompareWithGolden("journal-S.xml", masks.Apply(run.s));
  CompareWithGolden("journal-L.xml", masks.Apply(run.l));
}

}  // namespace
}  // namespace kasse
