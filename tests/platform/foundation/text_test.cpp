// kfStr and kfDbl: a cross-check against C-locale printf and digit limits;
// kfUtf8 at each length boundary and on values that are not code points.
#include <foundation/exception.h>
#include <foundation/text.h>

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

std::wstring printed(const char* format, double v, int digits) {
  char buffer[1500];
  int n = std::snprintf(buffer, sizeof buffer, format, digits, v);
  return std::wstring(buffer, buffer + n);
}

TEST(Text, randomValues_matchCLocalePrintf_digitLimits) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::mt19937_64 random(11);
  for (int i = 0; i < 20000; ++i) {
    // Raw bit patterns cover every exponent, subnormals and non-finite values; the rest are short.
    double v = std::bit_cast<double>(random());
    if (i % 2 == 0) v = std::ldexp(static_cast<double>(random() % 2000000) - 1e6, -(i % 40));
    const int d = static_cast<int>(random() % 18);
    ASSERT_EQ(kfStr(v), printed("%.*g", v, 6)) << std::hexfloat << v;
    ASSERT_EQ(kfDbl(v, d, true), printed("%.*e", v, d)) << std::hexfloat << v;
    ASSERT_EQ(kfDbl(v, d, false), printed("%.*f", v, d)) << std::hexfloat << v;
    const auto n = static_cast<int>(random());
    ASSERT_EQ(kfStr(n), std::to_wstring(n));
    ASSERT_EQ(kfStr(static_cast<long>(n)), std::to_wstring(n));
  }
  EXPECT_THROW(kfDbl(1.0, -1, false), kcBadArgument);
  EXPECT_THROW(kfDbl(1.0, kMaxDblDigits + 1, true), kcBadArgument);
  EXPECT_EQ(kfDbl(-1.7976931348623157e308, kMaxDblDigits, false).size(), 1u + 309 + 1 + 1074);
}

TEST(Text, utf8_eachLengthBoundary_nonScalarValuesBecomeReplacement) {
  const std::wstring text = {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF};
  EXPECT_EQ(kfUtf8(text), "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
  const std::wstring invalid = {0xD800, 0xDFFF, 0x110000, static_cast<wchar_t>(-1)};
  EXPECT_EQ(kfUtf8(invalid), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(kfUtf8(L""), "");
}

}  // namespace
