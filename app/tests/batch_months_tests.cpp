// Booked months the card cannot list in one answer: a sale stamped in 2001 (the application
// clock set back) and one in 2026 lie more than 255 months apart. The months answer is refused
// with a word that says why, never shortened, and the span report still covers both.

#include <gtest/gtest.h>

#include <sstream>

#include "app/batch_runner.h"
#include "app/main/card_choice.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

TEST(BatchMonths, MonthsTooFarApartAreRefusedWithAReasonAndTheSpanReportStillSumsThem) {
  BatchOptions options;
  options.home = testing::FreshHome();
  CardOptions card;
  card.stateFile = options.home / "state" / "card.state";
  options.card = [card] { return MakeCardBackend(card); };
  std::ostringstream out, err;
  BatchRunner runner(options, out, err);
  std::istringstream script(
      "clock 2001-01-15 10:00\nselect 0\nbook\nsumme\nkassieren\n"
      "clock 2026-12-07 10:00\nselect 0\nbook\nsumme\nkassieren\n"
      "report months\nreport span 01/2001 12/2026\nreceipt\n");
  EXPECT_EQ(runner.Run(script), kBatchFailed);
  EXPECT_NE(err.str().find("line 11: the card's booked months are more, or further apart, than "
                           "one answer can list"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find("line 12"), std::string::npos) << err.str();
  // No month list was printed, not even a shortened one; the span's signed sum covers both
  // sales (two transactions, the last one number 2).
  EXPECT_EQ(out.str().find("01/2001"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Summe von 200101 bis 202612"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Transaktionsnummer: \t\t2"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace kasse
