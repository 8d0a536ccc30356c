#include "scan/event_time.h"

#include <array>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

#include "platform/locale_formats.h"

namespace qs {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Floor division, so that instants before 1970 land on the day they belong to.
constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The proleptic Gregorian date of a day counted from 1970-01-01 (day 0).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;  // from 0000-03-01
  const std::int64_t era = FloorDiv(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days from 1970-01-01 to the given date (inverse of CivilFromDays).
std::int64_t DaysFromCivil(int year, int month, int day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t mp = month > 2 ? month - 3 : month + 9;
  const std::int64_t dayOfYear = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::tm ToTm(const EventDateTime& when) {
  std::tm tm{};
  tm.tm_year = when.year - 1900;
  tm.tm_mon = when.month - 1;
  tm.tm_mday = when.day;
  tm.tm_hour = when.hour;
  tm.tm_min = when.minute;
  tm.tm_sec = when.second;
  tm.tm_isdst = 0;
  // Weekday and day of the year, for formats that name them (1970-01-01 was a Thursday).
  const std::int64_t days = DaysFromCivil(when.year, when.month, when.day);
  tm.tm_wday = static_cast<int>(days - FloorDiv(days + 4, 7) * 7 + 4) % 7;
  static constexpr std::array<int, 12> kDaysBeforeMonth = {0,   31,  59,  90,  120, 151,
                                                           181, 212, 243, 273, 304, 334};
  const int monthIndex = when.month >= 1 && when.month <= 12 ? when.month - 1 : 0;
  tm.tm_yday = kDaysBeforeMonth[static_cast<std::size_t>(monthIndex)] + when.day - 1 +
               (when.month > 2 && IsLeapYear(when.year) ? 1 : 0);
  return tm;
}

// strftime with a buffer that grows for long locale formats; empty when the result is empty.
std::string Format(const std::string& format, const std::tm& tm) {
  std::vector<char> buffer(128);
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), format.c_str(), &tm);
    if (n != 0) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 4);
  }
  return {};
}

bool IsPlainCLocale(const char* name) {
  if (name == nullptr) return true;
  const std::string_view n(name);
  return n == "C" || n == "POSIX" || n.starts_with("C.");
}

std::string IsoDateText(const EventDateTime& when, bool withTime) {
  char text[64];
  if (withTime) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.year, when.month, when.day);
  }
  return text;
}

}  // namespace

EventDateTime LocalEventTime(std::int32_t timeWritten, std::int32_t timeZoneBias) {
  const std::int64_t local =
      static_cast<std::int64_t>(timeWritten) - static_cast<std::int64_t>(timeZoneBias) * 60;
  const std::int64_t days = FloorDiv(local, kSecondsPerDay);
  const std::int64_t secondOfDay = local - days * kSecondsPerDay;
  EventDateTime when;
  CivilFromDays(days, when.year, when.month, when.day);
  when.hour = static_cast<int>(secondOfDay / 3600);
  when.minute = static_cast<int>(secondOfDay / 60 % 60);
  when.second = static_cast<int>(secondOfDay % 60);
  return when;
}

std::string DateText(const EventDateTime& when) {
  const bool withTime = when.hour != 0 || when.minute != 0 || when.second != 0;
  if (IsPlainCLocale(std::setlocale(LC_TIME, nullptr))) return IsoDateText(when, withTime);

  const std::tm tm = ToTm(when);
  std::string text = Format(platform::LocaleDateFormat(), tm);
  if (text.empty()) return IsoDateText(when, withTime);
  if (withTime) {
    const std::string time = Format(platform::LocaleTimeFormat(), tm);
    if (time.empty()) return IsoDateText(when, withTime);
    text += ' ';
    text += time;
  }
  return text;
}

}  // namespace qs
