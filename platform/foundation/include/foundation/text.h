// Number-to-text conversion for reports: kfStr and kfDbl, independent of the process locale.
#pragma once

#include <string>

// All functions here write ASCII only: digits, '-', '+', '.', 'e', and "inf" / "nan" for
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
