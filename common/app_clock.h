#pragma once
// The application clock: the system clock plus an offset the operator sets, so that records can
// be stamped with another date and time. Date and time are always taken from one instant (now
// plus the offset), so the application date turns at the application's own midnight.
// Times are counted in days since an epoch (1970-01-01 00:00 local time here) with the time of
// day as the fraction, because the pickers and the records both need that form: the date picker
// holds whole days and the time picker a fraction, the offset is their sum less now, and a
// record's date and time are the whole and the fractional part of one instant.
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

// The four modes of the clock window: gleich (system time), synchron (runs with the offset),
// statisch (display stands still), stellen (the operator edits the pickers).
enum class ClockMode { kGleich, kSynchron, kStatisch, kStellen };

// A date or time as text and as packed digits (two per byte, high nibble first).
struct ClockField {
  std::string text;
  Bytes packed;
};

// The date ("yyyyMMdd") and time ("hhmm") a record is stamped with, both of one instant.
struct AppStamp {
  ClockField date, time;
};
AppStamp StampOf(AppDateTime instant);

class AppClock {
 public:
  using NowSource = std::function<AppDateTime()>;
  explicit AppClock(NowSource now = SystemNow);

  // The application's instant: the system clock now plus the offset.
  AppDateTime AppNow() const { return now_() + offset_; }
  // Date and time of one reading of the clock: what a record is stamped with.
  AppStamp Stamp() const { return StampOf(AppNow()); }
  // "yyyyMMdd" and "hhmm" of the application's instant, each read on its own.
  ClockField GetAppDate() const { return Stamp().date; }
  ClockField GetAppTime() const { return Stamp().time; }

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
