#include "platform/Clock.h"

#include <ctime>

namespace vg::platform {

LocalTime Clock::Local() const {
  const auto now = std::chrono::system_clock::now();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(us / 1000000);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.microsecond = us % 1000000;
  t.millisecond = static_cast<int>(t.microsecond / 1000);
  return t;
}

std::chrono::steady_clock::time_point Clock::Monotonic() const { return std::chrono::steady_clock::now(); }

Clock& Clock::System() {
  static Clock clock;
  return clock;
}

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int max = days[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= max;
}

int32_t DayNumber(int year, int month, int day) {
  static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int y = year - 1;
  int32_t n = y * 365 + y / 4 - y / 100 + y / 400;
  n += before[month - 1] + (month > 2 && leap ? 1 : 0) + day;
  return n;
}

double ToDateTime(const LocalTime& t) {
  const double days = DayNumber(t.year, t.month, t.day) - 693594;
  const double secs = t.hour * 3600.0 + t.minute * 60.0 + t.second + t.microsecond / 1e6;
  return days + secs / 86400.0;
}

}  // namespace vg::platform
