// The notification-area icon's mouse messages: what the icon's notifications mean, told the way
// the icon's picture box reports them (the mouse message number times the twips per pixel).
#pragma once

#include <cstdint>
#include <string>

namespace qs {

inline constexpr int kMouseMove = 0x200;
inline constexpr int kLeftButtonDown = 0x201;
inline constexpr int kLeftButtonDoubleClick = 0x203;
inline constexpr int kRightButtonDown = 0x204;
inline constexpr int kMiddleButtonDown = 0x207;

enum class TrayAction { None, Toggle, PopupMenu };

// X converted to a whole number (halves to the even neighbour) in capital hexadecimal without
// leading zeros; a negative number shows its 32-bit two's complement.
std::string IconCodeOf(float x);

// The decoding of PictureQuillstamp1_MouseMove: "1E2D" and "180C" toggle the window, "1E3C" and
// "1830" pop up the File menu, every other code does nothing.
TrayAction DecodeIconX(float x);

// Twips per pixel of a screen of the given logical DPI (1440 / DPI).
double TwipsPerPixel(double logicalDpi);

// The scale the icon works at. Only 15 and 12 twips per pixel give codes that the decoding knows;
// at any other scale the icon would react to nothing and a hidden window, which has no Close and
// no other way back, could never be shown again. There the icon acts as at 15 twips per pixel.
double IconScale(double twipsPerPixel);

// The X that the icon's picture box reports for a mouse message at the given screen scale.
float IconMessageX(int message, double twipsPerPixel);

// Turns the toolkit's notifications into mouse messages. Trays that report a double-click as two
// single clicks (the D-Bus trays) still give a double-click: a press that follows another within
// the double-click interval is a double-click.
class IconClickMerger {
 public:
  enum class Notice { LeftPress, LeftDoubleClick, RightPress, MiddlePress };
  int MessageFor(Notice notice, std::int64_t nowMs, int doubleClickIntervalMs);

 private:
  bool havePress_ = false;
  std::int64_t lastPressMs_ = 0;
};

}  // namespace qs
