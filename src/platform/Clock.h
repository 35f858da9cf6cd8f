#pragma once
// Time sources behind one injectable interface, so that time-dependent logic can be tested.
#include <chrono>
#include <cstdint>

namespace vg::platform {

// A local wall-clock moment broken into its parts.
struct LocalTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int64_t microsecond = 0;  // 0..999999 within the second (millisecond is its coarse form)
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Local wall-clock time (may jump when the clock is set or daylight saving changes).
  virtual LocalTime Local() const;
  // Monotonic time for measuring intervals.
  virtual std::chrono::steady_clock::time_point Monotonic() const;
  // The process-wide system clock.
  static Clock& System();
};

// Days since 30 December 1899 plus the fraction of the day, as the system's date values count.
double ToDateTime(const LocalTime& t);
// Number of whole days of the date part since 1 January of year 1 counted as day 1
// (so 30 December 1899 is day 693594).
int32_t DayNumber(int year, int month, int day);
bool IsValidDate(int year, int month, int day);

}  // namespace vg::platform
