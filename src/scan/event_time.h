// The local date and time of an event, and its date text.
#pragma once

#include <cstdint>
#include <string>

namespace qs {

struct EventDateTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool operator==(const EventDateTime&) const = default;
};

// The local date and time of a TimeWritten value: UTC plus the seconds, less timeZoneBias minutes
// (the standard bias only; daylight saving time is never applied).
EventDateTime LocalEventTime(std::int32_t timeWritten, std::int32_t timeZoneBias);

// The general date form: the short date of the LC_TIME locale, a blank, and its time with seconds
// ("YYYY-MM-DD HH:MM:SS" in the C and POSIX locales). A time of exactly 00:00:00 gives the date
// alone.
std::string DateText(const EventDateTime& when);

}  // namespace qs
