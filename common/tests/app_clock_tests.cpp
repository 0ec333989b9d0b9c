#include <gtest/gtest.h>

#include "common/app_clock.h"
#include "common/hex_text.h"

namespace kasse {
namespace {

AppDateTime At(int year, int month, int day, int hour, int minute, int second = 0) {
  return ToAppDateTime({year, month, day, hour, minute, second, 0});
}

// A clock over a settable "system now".
struct AppClockTest : ::testing::Test {
  AppDateTime now = At(2026, 12, 5, 14, 5, 30);
  AppClock clock{[this] { return now; }};

  std::string Date() const { return clock.GetAppDate().text; }
  std::string Time() const { return clock.GetAppTime().text; }
  // The operator sets the pickers in mode stellen and then picks the next mode.
  void SetTo(AppDateTime date, AppDateTime time, ClockMode next) {
    clock.SetTime(ClockMode::kStellen);
    clock.SetPickers(date, time);
    clock.SetTime(next);
  }
};

TEST(AppClockCivil, ConvertsBothWays) {
  const CivilDateTime civil = ToCivil(At(2024, 2, 29, 23, 59, 59));
  EXPECT_EQ(civil.year, 2024);
  EXPECT_EQ(civil.month, 2);
  EXPECT_EQ(civil.day, 29);
  EXPECT_EQ(civil.hour, 23);
  EXPECT_EQ(civil.minute, 59);
  EXPECT_EQ(civil.second, 59);
  EXPECT_DOUBLE_EQ(At(1970, 1, 2, 12, 0), 1.5);
  EXPECT_EQ(ToCivil(-0.25).day, 31);  // 1969-12-31 18:00
  EXPECT_EQ(ToCivil(-0.25).hour, 18);
  EXPECT_DOUBLE_EQ(TruncDays(-1.25), -1.0);
  EXPECT_DOUBLE_EQ(FracDays(-1.25), -0.25);
}

TEST_F(AppClockTest, GleichFollowsTheSystemClock) {
  const ClockField date = clock.GetAppDate(), time = clock.GetAppTime();
  EXPECT_EQ(date.text, "20261205");
  EXPECT_EQ(HexWritten(date.packed), "20 26 12 05");
  EXPECT_EQ(time.text, "1405");
  EXPECT_EQ(HexWritten(time.packed), "14 05");
  now = At(2027, 1, 1, 0, 0, 1);
  clock.TimerSyncTimer();
  EXPECT_EQ(Date(), "20270101");
  EXPECT_EQ(Time(), "0000");
  EXPECT_EQ(clock.AppTimeOffset(), 0);
  EXPECT_DOUBLE_EQ(clock.PickerTime(), now);
  EXPECT_DOUBLE_EQ(clock.PickerDate(), At(2027, 1, 1, 0, 0));
}

TEST_F(AppClockTest, YesterdayAtTheSameTimeShiftsOnlyTheDate) {
  SetTo(At(2026, 12, 4, 0, 0), now, ClockMode::kSynchron);
  EXPECT_NEAR(clock.AppTimeOffset(), -1.0, 1e-9);
  EXPECT_FALSE(clock.PickersEnabled());
  EXPECT_EQ(Date(), "20261204");
  EXPECT_EQ(Time(), "1405");
  now += 1.0 / 24;  // the clock runs on with the system
  clock.TimerSyncTimer();
  EXPECT_EQ(Time(), "1505");
  EXPECT_EQ(ToCivil(clock.PickerTime()).hour, 15);
  EXPECT_EQ(ToCivil(clock.PickerDate()).day, 4);
}

TEST_F(AppClockTest, PickedDateAndTimeAreWhatTheRecordsGetAtAnyHour) {
  // Two days ahead at the time the pickers showed a second ago: about 2 + 1 days of offset.
  SetTo(At(2026, 12, 7, 0, 0), now - 1.0 / 86400, ClockMode::kSynchron);
  EXPECT_NEAR(clock.AppTimeOffset(), 3.0, 1e-4);
  EXPECT_EQ(Date(), "20261207");
  EXPECT_EQ(Time(), "1405");
  // Later and earlier hours than now, days ahead and behind: each record gets the picked
  // date and time, whatever the hour of the system clock.
  struct Case {
    AppDateTime pick;
    const char* date;
    const char* time;
  };
  for (const Case& c : {Case{At(2027, 3, 4, 10, 15), "20270304", "1015"},
                        Case{At(2027, 3, 4, 23, 50), "20270304", "2350"},
                        Case{At(2026, 12, 6, 20, 0), "20261206", "2000"},
                        Case{At(2026, 12, 4, 20, 0), "20261204", "2000"},
                        Case{At(2026, 12, 4, 1, 0), "20261204", "0100"},
                        Case{At(2025, 1, 1, 0, 0), "20250101", "0000"}}) {
    for (AppDateTime systemNow : {At(2026, 12, 5, 0, 37), At(2026, 12, 5, 14, 5, 30)}) {
      now = systemNow;
      SetTo(c.pick, c.pick, ClockMode::kSynchron);
      EXPECT_EQ(Date(), c.date) << c.date << " " << c.time << " at " << ToCivil(now).hour;
      EXPECT_EQ(Time(), c.time) << c.date << " " << c.time << " at " << ToCivil(now).hour;
    }
  }
}

TEST_F(AppClockTest, DatePartDoesNotRollOverAtMidnight) {
  // Two hours later in the day: 23:00 becomes 01:00, but the date moves by whole days only.
  now = At(2026, 12, 5, 23, 0);
  SetTo(At(2026, 12, 5, 0, 0), At(2000, 1, 1, 1, 0), ClockMode::kSynchron);
  EXPECT_NEAR(clock.AppTimeOffset(), -22.0 / 24, 1e-9);
  EXPECT_EQ(Time(), "0100");
  EXPECT_EQ(Date(), "20261205");
  SetTo(At(2026, 12, 5, 0, 0), At(2000, 1, 1, 23, 30), ClockMode::kSynchron);
  now = At(2026, 12, 5, 1, 0);
  EXPECT_EQ(Time(), "0130");
  EXPECT_EQ(Date(), "20261205");
}

TEST_F(AppClockTest, StatischFreezesTheDisplayButNotTheRecords) {
  SetTo(At(2026, 12, 4, 0, 0), now, ClockMode::kStatisch);
  const AppDateTime shown = clock.PickerTime();
  now += 0.5;
  clock.TimerSyncTimer();
  EXPECT_DOUBLE_EQ(clock.PickerTime(), shown);
  EXPECT_EQ(Time(), "0205");
  EXPECT_EQ(Date(), "20261205");  // 6 December minus one day
}

TEST_F(AppClockTest, LeavingStellenForGleichKeepsOffsetUntilTheNextTick) {
  SetTo(At(2026, 12, 4, 0, 0), now, ClockMode::kGleich);
  EXPECT_NEAR(clock.AppTimeOffset(), -1.0, 1e-9);
  clock.TimerSyncTimer();
  EXPECT_EQ(clock.AppTimeOffset(), 0);
  EXPECT_EQ(Date(), "20261205");
  // Switching between the other modes without editing keeps the offset as it is.
  SetTo(At(2026, 12, 6, 0, 0), now, ClockMode::kSynchron);
  clock.SetTime(ClockMode::kStatisch);
  clock.SetTime(ClockMode::kSynchron);
  EXPECT_NEAR(clock.AppTimeOffset(), 1.0, 1e-9);
}

}  // namespace
}  // namespace kasse
