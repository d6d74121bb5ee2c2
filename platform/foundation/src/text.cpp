// kfStr and kfDbl: number formatting through std::to_chars, which never consults a locale; kfUtf8.
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

std::string kfUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    auto c = static_cast<char32_t>(w);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;  // not a scalar value
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
