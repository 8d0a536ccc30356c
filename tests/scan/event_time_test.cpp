#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>

#include "scan/event_time.h"

namespace qs {
namespace {

TEST(LocalEventTime, CalendarAndBias) {
  struct {
    std::int32_t timeWritten;
    std::int32_t bias;
    EventDateTime expected;
  } const cases[] = {
      {0, 0, {1970, 1, 1, 0, 0, 0}},
      {951'825'600, 0, {2000, 2, 29, 12, 0, 0}},  // leap day of a year divisible by 400
      {std::numeric_limits<std::int32_t>::max(), 0, {2038, 1, 19, 3, 14, 7}},
      {std::numeric_limits<std::int32_t>::min(), 0, {1901, 12, 13, 20, 45, 52}},
      {1'000'036'800, 300, {2001, 9, 9, 7, 0, 0}},  // 12:00 UTC, five hours west
      {1'000'036'800, -60, {2001, 9, 9, 13, 0, 0}},
      {1'000'036'800, -720, {2001, 9, 10, 0, 0, 0}},  // into the next day
      {1'009'843'199, -60, {2002, 1, 1, 0, 59, 59}},  // into the next year
      {0, 60, {1969, 12, 31, 23, 0, 0}},
      // The arithmetic does not overflow at the ends of both ranges.
      {std::numeric_limits<std::int32_t>::max(),
       std::numeric_limits<std::int32_t>::min(),
       {6121, 2, 11, 5, 22, 7}},
  };
  for (const auto& c : cases) {
    const EventDateTime t = LocalEventTime(c.timeWritten, c.bias);
    EXPECT_EQ(t, c.expected) << c.timeWritten << " bias " << c.bias << " gives " << t.year << "-"
                             << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
                             << t.second;
  }
}

// Sets LC_TIME for one test and puts the previous locale back.
class TimeLocale {
 public:
  explicit TimeLocale(const char* name) : previous_(std::setlocale(LC_TIME, nullptr)) {
    ok_ = std::setlocale(LC_TIME, name) != nullptr;
  }
  ~TimeLocale() { std::setlocale(LC_TIME, previous_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

TEST(DateText, PlainLocalesUseIsoForm) {
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    TimeLocale locale(name);
    if (!locale.ok()) continue;  // C.UTF-8 is missing on some systems; C and POSIX never are
    EXPECT_EQ(DateText({2026, 12, 10, 13, 5, 9}), "2026-12-10 13:05:09") << name;
    EXPECT_EQ(DateText({2026, 1, 2, 0, 0, 1}), "2026-01-02 00:00:01") << name;
    EXPECT_EQ(DateText({1999, 12, 31, 23, 59, 59}), "1999-12-31 23:59:59") << name;
    // Exactly midnight shows the date alone.
    EXPECT_EQ(DateText({2026, 12, 10, 0, 0, 0}), "2026-12-10") << name;
  }
}

TEST(DateText, RegionalFormats) {
  struct {
    const char* locale;
    EventDateTime when;
    const char* expected;
  } const cases[] = {
      {"de_DE.UTF-8", {2026, 12, 10, 13, 5, 9}, "10.12.2026 13:05:09"},
      {"de_DE.UTF-8", {2026, 12, 10, 0, 0, 0}, "10.12.2026"},
      // A 12-hour time ends in its AM/PM marker, so the seconds are not last there.
      {"en_US.UTF-8", {2026, 12, 10, 13, 5, 9}, "12/10/2026 01:05:09 PM"},
      {"en_US.UTF-8", {2026, 12, 10, 0, 0, 0}, "12/10/2026"},
  };
  int tried = 0;
  for (const auto& c : cases) {
    TimeLocale locale(c.locale);
    if (!locale.ok()) continue;
    ++tried;
    EXPECT_EQ(DateText(c.when), c.expected) << c.locale;
  }
  if (tried == 0) GTEST_SKIP() << "neither de_DE.UTF-8 nor en_US.UTF-8 is installed (locale -a)";
}

}  // namespace
}  // namespace qs
