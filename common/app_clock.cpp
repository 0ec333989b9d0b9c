#include "common/app_clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/packed.h"

namespace kasse {
namespace {

constexpr double kMillisecondsPerDay = 86400000.0;

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

ClockField Field(std::string text) {
  auto packed = PackDigits(text);
  return ClockField{std::move(text), packed ? *packed : Bytes{}};
}

double TimeOfDay(AppDateTime value) {
  return value - std::floor(value);
}

}  // namespace

AppDateTime ToAppDateTime(const CivilDateTime& civil) {
  using namespace std::chrono;
  const sys_days date{year{civil.year} / civil.month / civil.day};
  const double milliseconds =
      ((civil.hour * 60.0 + civil.minute) * 60.0 + civil.second) * 1000.0 + civil.millisecond;
  return static_cast<double>(date.time_since_epoch().count()) + milliseconds / kMillisecondsPerDay;
}

CivilDateTime ToCivil(AppDateTime value) {
  using namespace std::chrono;
  const auto total = static_cast<long long>(std::llround(value * kMillisecondsPerDay));
  const long long perDay = static_cast<long long>(kMillisecondsPerDay);
  long long dayNumber = total / perDay;
  long long ofDay = total % perDay;
  if (ofDay < 0) {
    ofDay += perDay;
    --dayNumber;
  }
  const year_month_day date{sys_days{days{dayNumber}}};
  CivilDateTime civil;
  civil.year = static_cast<int>(date.year());
  civil.month = static_cast<int>(static_cast<unsigned>(date.month()));
  civil.day = static_cast<int>(static_cast<unsigned>(date.day()));
  civil.hour = static_cast<int>(ofDay / 3600000);
  civil.minute = static_cast<int>(ofDay / 60000 % 60);
  civil.second = static_cast<int>(ofDay / 1000 % 60);
  civil.millisecond = static_cast<int>(ofDay % 1000);
  return civil;
}

AppDateTime SystemNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto sinceEpoch = now.time_since_epoch();
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
  return ToAppDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(milliseconds)});
}

AppStamp StampOf(AppDateTime instant) {
  // One conversion for both fields: 23:59:59.9996 is 00:00 of the next day in each.
  const CivilDateTime civil = ToCivil(instant);
  return AppStamp{Field(Digits(civil.year, 4) + Digits(civil.month, 2) + Digits(civil.day, 2)),
                  Field(Digits(civil.hour, 2) + Digits(civil.minute, 2))};
}

AppClock::AppClock(NowSource now) : now_(std::move(now)) {
  pickerTime_ = now_();
  pickerDate_ = std::floor(pickerTime_);
}

void AppClock::TimerSyncTimer() {
  const AppDateTime now = now_();
  switch (mode_) {
    case ClockMode::kGleich:
      pickerTime_ = now;
      pickerDate_ = std::floor(now);
      offset_ = 0;
      break;
    case ClockMode::kSynchron:
      pickerTime_ = now + offset_;
      pickerDate_ = std::floor(pickerTime_);
      break;
    case ClockMode::kStatisch:
    case ClockMode::kStellen:
      break;
  }
}

void AppClock::SetTime(ClockMode mode) {
  mode_ = mode;
  if (mode == ClockMode::kStellen) {
    editing_ = true;
    return;
  }
  if (mode == ClockMode::kGleich) offset_ = 0;
  // The picked instant less now: the records get the picked date and time from here on, and
  // both run on together.
  if (editing_) offset_ = std::floor(pickerDate_) + TimeOfDay(pickerTime_) - now_();
  editing_ = false;
}

void AppClock::SetPickers(AppDateTime date, AppDateTime time) {
  pickerDate_ = date;
  pickerTime_ = time;
}

}  // namespace kasse
