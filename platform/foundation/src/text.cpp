// kfStr and kfDbl: number formatting through std::to_chars, which never consults a locale.
#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/text.h>

#include <array>
#include <charconv>

namespace {

// Longest output: "%.1074f" of -DBL_MAX is 1 sign + 309 integer digits + '.' + 1074 digits.
using Buffer = std::array<char, 1400>;

std::wstring widen(const char* first, const char* last) { return std::wstring(first, last); }

template <typename... Format>
std::wstring format(double v, Format... format) {
  Buffer buffer;
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v, format...);
  KC_ASSERT(error == std::errc(), "a formatted number fits its buffer");
  return widen(buffer.data(), end);
}

template <typename Integer>
std::wstring formatInteger(Integer v) {
  std::array<char, 24> buffer;
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
  KC_ASSERT(error == std::errc(), "a formatted integer fits its buffer");
  return widen(buffer.data(), end);
}

}  // namespace

std::wstring kfStr(double v) { return format(v, std::chars_format::general, 6); }

std::wstring kfStr(long v) { return formatInteger(v); }

std::wstring kfStr(int v) { return formatInteger(v); }

std::wstring kfDbl(double v, int digits, bool sci) {
  if (digits < 0 || digits > kMaxDblDigits)
    throw kcBadArgument(L"The number of digits after the point is out of range.");
  return format(v, sci ? std::chars_format::scientific : std::chars_format::fixed, digits);
}
