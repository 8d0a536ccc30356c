#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace qs::platform {
namespace {

TEST(Ascii, FoldsOnlyLetters) {
  EXPECT_EQ(AsciiLower('Q'), 'q');
  EXPECT_EQ(AsciiUpper('q'), 'Q');
  // The neighbours of the letter ranges stay as they are: '@' '[' '`' '{'.
  for (char c : {'@', '[', '`', '{', '0', '_', ' '}) {
    EXPECT_EQ(AsciiLower(c), c) << c;
    EXPECT_EQ(AsciiUpper(c), c) << c;
  }
  // Bytes of multi-byte characters are never folded.
  EXPECT_EQ(AsciiLower('\xC3'), '\xC3');
  EXPECT_EQ(AsciiUpper('\xE9'), '\xE9');
}

TEST(Ascii, EqualsNoCase) {
  EXPECT_TRUE(EqualsNoCase("Security", "SECURITY"));
  EXPECT_TRUE(EqualsNoCase("", ""));
  EXPECT_TRUE(EqualsNoCase("budget.XLS", "BUDGET.xls"));
  EXPECT_FALSE(EqualsNoCase("Security", "Securit"));
  EXPECT_FALSE(EqualsNoCase("a", "ab"));
  // A fold by setting bit 0x20 would take these for equal.
  EXPECT_FALSE(EqualsNoCase("a[", "A{"));
  EXPECT_FALSE(EqualsNoCase("@", "`"));
  // "É" and "é" in UTF-8 differ in a byte outside the ASCII range.
  EXPECT_FALSE(EqualsNoCase("\xC3\x89", "\xC3\xA9"));
}

}  // namespace
}  // namespace qs::platform
