#include "core/text_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace qs {
namespace {

struct TextCase {
  const char* text;
  double number;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class TextToNumberTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextToNumberTest, ReadsTheLeadingNumber) {
  EXPECT_DOUBLE_EQ(TextToNumber(GetParam().text), GetParam().number)
      << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToNumberTest,
    ::testing::Values(TextCase{"15", 15}, TextCase{" 15", 15}, TextCase{"1 5", 15},
                      TextCase{"1\t5\n", 15}, TextCase{"12abc", 12}, TextCase{"abc", 0},
                      TextCase{"", 0}, TextCase{"0", 0}, TextCase{"-3", -3}, TextCase{"+7", 7},
                      TextCase{"- 3", -3}, TextCase{"2.5", 2.5}, TextCase{".5", 0.5},
                      TextCase{"5.", 5}, TextCase{".", 0}, TextCase{"-", 0},
                      TextCase{"1.5E3", 1500}, TextCase{"1.5e3", 1500}, TextCase{"25D-1", 2.5},
                      TextCase{"2d2", 200}, TextCase{"12E", 12}, TextCase{"12E+", 12},
                      TextCase{"1E 2", 100}, TextCase{"1.2.3", 1.2}, TextCase{"01", 1},
                      TextCase{"1.0", 1}, TextCase{"&H10", 16}, TextCase{"&hFf", 255},
                      TextCase{"&H", 0}, TextCase{"&HG", 0}, TextCase{"&H 1F", 31},
                      TextCase{"&O17", 15}, TextCase{"&o178", 15}, TextCase{"&X12", 0},
                      TextCase{"&12", 0}, TextCase{"1\r5", 1}, TextCase{"1,5", 1},
                      TextCase{"1e-400", 0}, TextCase{"0.0000000000e400", 0}));

TEST(TextToNumberTest, TwentyDigitsAndHugeNumbersNeverFail) {
  EXPECT_DOUBLE_EQ(TextToNumber("12345678901234567890"), 12345678901234567890.0);
  EXPECT_DOUBLE_EQ(TextToNumber("-99999999999999999999"), -1e20);
  EXPECT_EQ(TextToNumber("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(TextToNumber("-1E99999999999999999999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(TextToNumber("0.01e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(TextToNumber(std::string(400, '9')), std::numeric_limits<double>::infinity());
  EXPECT_EQ(TextToNumber("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_DOUBLE_EQ(TextToNumber("&HFFFFFFFFFFFFFFFFFFFF"), std::pow(16.0, 20) - 1);
}

TEST(RoundHalfEvenTest, TiesGoToTheEvenNeighbour) {
  const struct {
    double in, out;
  } cases[] = {{2.5, 2},   {3.5, 4}, {0.5, 0},  {1.5, 2},       {-2.5, -2},
               {-3.5, -4}, {2.4, 2}, {2.6, 3},  {-2.6, -3},     {2999.5, 3000},
               {9.6, 10},  {0.0, 0}, {-0.4, 0}, {60000, 60000}, {1e20, 1e20}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
  EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::infinity()),
            std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(RoundHalfEven(std::nan(""))));
}

}  // namespace
}  // namespace qs
