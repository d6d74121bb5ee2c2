// Text for reports and archives: numbers as text (kfStr, kfDbl), independent of the process
// locale, and wide text in UTF-8 (kfUtf8).
#pragma once

#include <string>
#include <string_view>

// The number functions write ASCII only: digits, '-', '+', '.', 'e', and "inf" / "nan" for
// non-finite values (with '-' when the sign bit is set). The decimal point is always '.', whatever
// the C or C++ global locale is; no digit grouping is ever inserted.

// kfStr(v): v as printf's "%.6g" writes it in the "C" locale: 6 significant digits, fixed or
// exponent form by the usual rule, trailing zeros dropped (e.g. "0.1", "123457", "1.5e-07").
std::wstring kfStr(double v);

// kfStr(v): v in decimal, with '-' for negative values.
std::wstring kfStr(long v);
std::wstring kfStr(int v);

// kfDbl(v, digits, sci): v with digits digits after the decimal point, as printf's "%.*f"
// (sci false) or "%.*e" (sci true) writes it in the "C" locale; digits 0 writes no point.
// Throws kcBadArgument unless 0 <= digits <= kMaxDblDigits (beyond it a double has no more
// nonzero decimal digits).
constexpr int kMaxDblDigits = 1074;
std::wstring kfDbl(double v, int digits, bool sci);

// kfUtf8(text): text, one code point per wchar_t (32 bits here), in UTF-8. A wchar_t that is not a
// Unicode scalar value (a surrogate U+D800..U+DFFF, a value above U+10FFFF, a negative one) becomes
// U+FFFD, so the result is always valid UTF-8: archives read it back, and reports and Python
// decode it. Never throws but std::bad_alloc; linear in the length of text.
std::string kfUtf8(std::wstring_view text);
