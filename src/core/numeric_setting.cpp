#include "core/numeric_setting.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "core/text_number.h"

namespace qs {

const NumericSettingRow& NumericSettingRowOf(NumericDialogKind kind) {
  static const NumericSettingRow rows[] = {
      {"Set time between two Security Log analysis", "lblSecondes", "seconds", 1, 60000,
       "Minimal temporisation reached", "Maximal temporisation reached",
       [](const Settings& s) -> std::int32_t { return s.Temporisation; },
       [](SettingsKeyWriter& w, Settings& s, std::int32_t v) { WriteTemporisation(w, s, v); }},
      {"Set max selected events in list", "lblEvents", "events", 10, 3000,
       "Minimal selected events reached", "Maximal selected events reached",
       [](const Settings& s) -> std::int32_t { return s.MaxSelectedEvents; },
       [](SettingsKeyWriter& w, Settings& s, std::int32_t v) {
         WriteMaxSelectedEvents(w, s, static_cast<std::int16_t>(v));
       }},
      {"Set max size for Windows 2000 comments", "lblCharacters", "characters", 100, 10000,
       "Minimal size reached", "Maximal size reached",
       [](const Settings& s) -> std::int32_t { return s.MaxWinComments; },
       [](SettingsKeyWriter& w, Settings& s, std::int32_t v) {
         WriteMaxWinComments(w, s, static_cast<std::int16_t>(v));
       }},
  };
  switch (kind) {
    case NumericDialogKind::Tempo:
      return rows[0];
    case NumericDialogKind::MaxSelected:
      return rows[1];
    case NumericDialogKind::MaxWinComments:
      return rows[2];
  }
  return rows[0];
}

ArrowStep DownArrowStep(NumericDialogKind kind, double typed) {
  const NumericSettingRow& row = NumericSettingRowOf(kind);
  const double n = RoundHalfEven(typed - 1);
  if (n <= row.minimum) return {static_cast<double>(row.minimum), row.minimumMessage};
  return {n, nullptr};
}

ArrowStep UpArrowStep(NumericDialogKind kind, double typed) {
  const NumericSettingRow& row = NumericSettingRowOf(kind);
  const double n = RoundHalfEven(typed + 1);
  if (n >= row.maximum) return {static_cast<double>(row.maximum), row.maximumMessage};
  return {n, nullptr};
}

bool NumericValueAccepted(NumericDialogKind kind, double typed) {
  const NumericSettingRow& row = NumericSettingRowOf(kind);
  return typed >= row.minimum && typed <= row.maximum;
}

std::string DecimalText(double n) {
  if (std::isnan(n)) return "0";
  // An infinite reading stays on the largest number the box can show, so that the arrows keep
  // working on it.
  if (std::isinf(n)) n = std::copysign(std::numeric_limits<double>::max(), n);
  if (n == 0) return "0";  // also -0
  // Shortest round-trip digits in scientific form, then laid out without the exponent, so that
  // 1e20 shows as 100000000000000000000 rather than as the binary value's exact expansion.
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, n, std::chars_format::scientific);
  if (ec != std::errc()) return "0";
  const std::string text(buffer, end);
  const std::size_t e = text.find('e');
  const int exponent = std::stoi(text.substr(e + 1));
  std::string mantissa = text.substr(0, e);
  std::string sign;
  if (mantissa[0] == '-') {
    sign = "-";
    mantissa.erase(0, 1);
  }
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;
  // digits = d0 d1 d2 ..., value = 0.d0d1d2... * 10^(exponent + 1)
  const int pointAt = exponent + 1;
  std::string out;
  if (pointAt <= 0) {
    out = "0." + std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
  } else if (static_cast<std::size_t>(pointAt) >= digits.size()) {
    out = digits + std::string(static_cast<std::size_t>(pointAt) - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<std::size_t>(pointAt)) + "." +
          digits.substr(static_cast<std::size_t>(pointAt));
  }
  return sign + out;
}

}  // namespace qs
