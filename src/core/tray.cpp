#include "core/tray.h"

#include <cmath>
#include <cstdio>

namespace qs {

std::string IconCodeOf(float x) {
  // The default rounding mode rounds halves to the even neighbour.
  double whole = std::nearbyint(static_cast<double>(x));
  if (!(whole >= -2147483648.0 && whole <= 2147483647.0)) return {};
  auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(whole));
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
  return text;
}

TrayAction DecodeIconX(float x) {
  const std::string h = IconCodeOf(x);
  if (h == "1E2D" || h == "180C") return TrayAction::Toggle;
  if (h == "1E3C" || h == "1830") return TrayAction::PopupMenu;
  return TrayAction::None;
}

double TwipsPerPixel(double logicalDpi) { return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0; }

double IconScale(double twipsPerPixel) {
  if (twipsPerPixel == 15.0 || twipsPerPixel == 12.0) return twipsPerPixel;
  return 15.0;
}

float IconMessageX(int message, double twipsPerPixel) {
  return static_cast<float>(message * IconScale(twipsPerPixel));
}

int IconClickMerger::MessageFor(Notice notice, std::int64_t nowMs, int doubleClickIntervalMs) {
  switch (notice) {
    case Notice::LeftPress:
      if (havePress_ && nowMs - lastPressMs_ >= 0 &&
          nowMs - lastPressMs_ <= doubleClickIntervalMs) {
        havePress_ = false;  // a third press starts a new pair
        return kLeftButtonDoubleClick;
      }
      havePress_ = true;
      lastPressMs_ = nowMs;
      return kLeftButtonDown;
    case Notice::LeftDoubleClick:
      havePress_ = false;
      return kLeftButtonDoubleClick;
    case Notice::RightPress:
      havePress_ = false;
      return kRightButtonDown;
    case Notice::MiddlePress:
      havePress_ = false;
      return kMiddleButtonDown;
  }
  return kMouseMove;
}

}  // namespace qs
