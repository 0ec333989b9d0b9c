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
  // Two days ahead at the time the pickers showed a second ago: two days of offset, no more.
  SetTo(At(2026, 12, 7, 0, 0), now - 1.0 / 86400, ClockMode::kSynchron);
  EXPECT_NEAR(clock.AppTimeOffset(), 2.0, 1e-4);
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

// The application clock across its own midnight, month end, year end and the end of February,
// while the system clock stays within its day, passes its own midnight at the same moment, or
// passes it while the application's day goes on. Each record gets the date and the time of one
// instant: the picked one plus the time the system clock has run since.
TEST_F(AppClockTest, DateAndTimeTurnTogetherAtTheApplicationsMidnight) {
  struct Case {
    AppDateTime pick;
    const char* before;  // the picked minute: date, blank, time
    const char* after;   // two minutes later
  };
  const Case cases[] = {
      {At(2026, 12, 5, 23, 59), "20261205 2359", "20261206 0001"},   // midnight
      {At(2026, 3, 31, 23, 59), "20260331 2359", "20260401 0001"},   // month end
      {At(2026, 12, 31, 23, 59), "20261231 2359", "20270101 0001"},  // year end
      {At(2028, 2, 28, 23, 59), "20280228 2359", "20280229 0001"},   // leap year
      {At(2028, 2, 29, 23, 59), "20280229 2359", "20280301 0001"},
      {At(2027, 2, 28, 23, 59), "20270228 2359", "20270301 0001"},  // common year
      {At(2026, 3, 31, 10, 0), "20260331 1000", "20260331 1002"},   // the day goes on
      {At(2026, 4, 1, 0, 0), "20260401 0000", "20260401 0002"},     // just past midnight
  };
  // System clocks before and after the picked days, in the middle of their day, a minute
  // before their midnight (passed in the two minutes) and just after it.
  const AppDateTime systemClocks[] = {
      At(2026, 5, 12, 10, 0),      At(2026, 5, 12, 23, 59, 30),  At(2026, 5, 13, 0, 0, 30),
      At(2025, 11, 20, 10, 0),     At(2025, 11, 20, 23, 59, 30), At(2029, 1, 1, 23, 58, 45),
      At(2026, 12, 5, 23, 59, 30),
  };
  const auto stamp = [this] {
    const AppStamp s = clock.Stamp();
    return s.date.text + " " + s.time.text;
  };
  for (const Case& c : cases) {
    for (const AppDateTime system : systemClocks) {
      for (const ClockMode mode : {ClockMode::kSynchron, ClockMode::kStatisch}) {
        now = system;
        SetTo(c.pick, c.pick, mode);
        const std::string where = std::string(c.before) + " with the system at " +
                                  std::to_string(ToCivil(system).hour) + ":" +
                                  std::to_string(ToCivil(system).minute);
        EXPECT_EQ(stamp(), c.before) << where;
        now += 2.0 / 1440;
        clock.TimerSyncTimer();
        EXPECT_EQ(stamp(), c.after) << where;
        EXPECT_EQ(clock.GetAppDate().text + " " + clock.GetAppTime().text, c.after) << where;
        const AppStamp packed = clock.Stamp();
        EXPECT_EQ(HexCompact(packed.date.packed) + " " + HexCompact(packed.time.packed), c.after);
      }
    }
  }
}

// The case: a sale at 23:59, the next a minute later while the system clock is at ten
// in the morning. The second is stamped 1 April 00:00, not 31 March 00:00.
TEST_F(AppClockTest, AMinutePastTheApplicationsMidnightIsTheNextDay) {
  now = At(2026, 5, 12, 10, 0);
  SetTo(At(2026, 3, 31, 23, 59), At(2026, 3, 31, 23, 59), ClockMode::kSynchron);
  EXPECT_EQ(Date() + Time(), "202603312359");
  now += 1.0 / 1440;
  EXPECT_EQ(Date() + Time(), "202604010000");
  // And the other way round: the system clock passes its midnight, the application's day
  // goes on.
  now = At(2026, 5, 12, 23, 59, 30);
  SetTo(At(2026, 3, 31, 10, 0), At(2026, 3, 31, 10, 0), ClockMode::kSynchron);
  now += 1.0 / 1440;
  EXPECT_EQ(Date() + Time(), "202603311001");
}

// The window in synchron shows what the records get, date and time of one instant.
TEST_F(AppClockTest, SynchronPickersShowTheStampedInstant) {
  now = At(2026, 5, 12, 10, 0);
  SetTo(At(2026, 12, 31, 23, 59), At(2026, 12, 31, 23, 59), ClockMode::kSynchron);
  now += 2.0 / 1440;
  clock.TimerSyncTimer();
  const CivilDateTime date = ToCivil(clock.PickerDate()), time = ToCivil(clock.PickerTime());
  EXPECT_EQ(date.year, 2027);
  EXPECT_EQ(date.month, 1);
  EXPECT_EQ(date.day, 1);
  EXPECT_EQ(time.hour, 0);
  EXPECT_EQ(time.minute, 1);
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
