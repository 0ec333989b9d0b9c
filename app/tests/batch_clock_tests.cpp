// The application clock as batch sets it, over the simulated card in this process, with the
// system clock in the test's hand.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "app/batch_runner.h"
#include "app/main/card_choice.h"
#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "register/register_probe.h"

namespace kasse {
namespace {

struct ClockedBatch {
  ClockedBatch() {
    BatchOptions options;
    options.home = testing::FreshHome();
    options.card = [] { return MakeCardBackend(CardOptions{}); };
    options.now = [this] { return now; };
    runner = std::make_unique<BatchRunner>(options, out, err);
  }
  void Run(const std::string& line) {
    if (!started) {
      ASSERT_TRUE(runner->Start()) << err.str();
      started = true;
    }
    std::istringstream in(line);
    std::string text;
    while (std::getline(in, text)) {
      Result<std::optional<BatchLine>> parsed = ParseBatchLine(text);
      ASSERT_TRUE(parsed && parsed->has_value()) << text;
      Result<void> done = runner->Execute(**parsed);
      ASSERT_TRUE(done) << text << ": " << done.error().English();
    }
  }
  std::string LFile() {
    return ReadFile(RegisterProbe::JournalFiles(*runner->Reg()).LName()).value();
  }

  AppDateTime now = ToAppDateTime({2026, 5, 12, 10, 0, 0, 0});
  std::ostringstream out, err;
  std::unique_ptr<BatchRunner> runner;
  bool started = false;
};

// `clock 2026-03-31 23:59`, a sale, a sale a minute later, with the system clock at ten in
// the morning: the second sale is of 1 April 00:00, and the card books April.
TEST(BatchClock, ASaleAMinutePastTheApplicationsMidnightIsOfTheNextDay) {
  ClockedBatch batch;
  batch.Run("clock 2026-03-31 23:59\nselect 0\nbook\nsumme\nkassieren");
  batch.now += 1.0 / 1440;
  batch.Run("select 0\nbook\nsumme\nkassieren\nreport months");
  const std::string l = batch.LFile();
  EXPECT_NE(l.find("<date>20260331</date><time>2359</time>"), std::string::npos) << l;
  EXPECT_NE(l.find("<date>20260401</date><time>0000</time>"), std::string::npos) << l;
  EXPECT_EQ(l.find("<date>20260331</date><time>0000</time>"), std::string::npos) << l;
  const std::string months = batch.out.str();
  EXPECT_NE(months.find("04/2026"), std::string::npos) << months;
}

TEST(BatchClock, RefusesADayTheCalendarDoesNotHave) {
  ClockedBatch batch;
  batch.Run("select 0");
  for (const char* line : {"clock 2027-02-29 10:00", "clock 2026-04-31 10:00",
                           "clock 2026-13-01 10:00", "clock 2026-03-01 24:00",
                           "clock 2026-3-1 10:00", "clock 2026-03-01 10:00x", "clock 2026-03-01"}) {
    Result<std::optional<BatchLine>> parsed = ParseBatchLine(line);
    ASSERT_TRUE(parsed && parsed->has_value());
    const Result<void> done = batch.runner->Execute(**parsed);
    ASSERT_FALSE(done) << line;
    EXPECT_NE(done.error().English().find("clock YYYY-MM-DD HH:MM"), std::string::npos) << line;
  }
  batch.Run("clock 2028-02-29 23:59");
  EXPECT_EQ(batch.runner->Reg()->Clock().GetAppDate().text, "20280229");
}

}  // namespace
}  // namespace kasse
