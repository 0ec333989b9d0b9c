#pragma once
// The application clock: the system clock plus an offset the operator sets, so that records can
// be stamped with another date and time. Times are counted as the original did: days since an
// epoch (1970-01-01 00:00 local time here) with the time of day as the fraction.
// User-interface thread only; the window reads the pickers and calls the tick and SetTime.

#include <functional>
#include <string>

#include "common/bytes.h"

namespace kasse {

using AppDateTime = double;  // days; the fraction is the time of day

struct CivilDateTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

AppDateTime ToAppDateTime(const CivilDateTime& civil);
CivilDateTime ToCivil(AppDateTime value);  // to the nearest millisecond
AppDateTime SystemNow();                   // local time

// Toward zero, as the date and time parts of the offset are taken.
double TruncDays(double days);
double FracDays(double days);

// The four modes of the clock window: gleich (system time), synchron (runs with the offset),
// statisch (display stands still), stellen (the operator edits the pickers).
enum class ClockMode { kGleich, kSynchron, kStatisch, kStellen };

// A date or time as text and as packed digits (two per byte, high nibble first).
struct ClockField {
  std::string text;
  Bytes packed;
};

class AppClock {
 public:
  using NowSource = std::function<AppDateTime()>;
  explicit AppClock(NowSource now = SystemNow);

  // "yyyyMMdd" of today + trunc(offset): the date part moves by whole days only.
  ClockField GetAppDate() const;
  // "hhmm" of now + frac(offset).
  ClockField GetAppTime() const;

  // TimerSyncTimer: once a second, whether the window is shown or not.
  void TimerSyncTimer();
  // The click handler of all four mode buttons.
  void SetTime(ClockMode mode);
  // The operator's values in mode stellen (only the date part of date and the time-of-day part
  // of time count).
  void SetPickers(AppDateTime date, AppDateTime time);

  ClockMode Mode() const { return mode_; }
  bool PickersEnabled() const { return mode_ == ClockMode::kStellen; }
  double AppTimeOffset() const { return offset_; }
  AppDateTime PickerDate() const { return pickerDate_; }
  AppDateTime PickerTime() const { return pickerTime_; }
  AppDateTime Now() const { return now_(); }

 private:
  NowSource now_;
  ClockMode mode_ = ClockMode::kGleich;
  double offset_ = 0;
  bool editing_ = false;
  AppDateTime pickerDate_ = 0, pickerTime_ = 0;
};

}  // namespace kasse
