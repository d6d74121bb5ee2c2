// 256-bit unsigned integers from 128-bit products, and their correctly rounded quotients.
#include "measure/exact_sums.h"

#include <foundation/assert.h>

#include <algorithm>
#include <cmath>

namespace kc_Exact {

namespace {

constexpr int kLimbs = 4;

std::uint64_t low(U128 v) { return static_cast<std::uint64_t>(v); }
std::uint64_t high(U128 v) { return static_cast<std::uint64_t>(v >> 64); }

int bitLength(const Wide& a) {
  for (int i = kLimbs - 1; i >= 0; --i)
    if (a.limb[i] != 0) return 64 * i + 64 - __builtin_clzll(a.limb[i]);
  return 0;
}

// shiftedLeft(a, s): a x 2^s for 0 <= s < 256; bits past 2^256 are lost (callers keep them).
Wide shiftedLeft(const Wide& a, int s) {
  Wide r;
  const int words = s / 64, bits = s % 64;
  for (int i = kLimbs - 1; i >= words; --i) {
    std::uint64_t v = a.limb[i - words] << bits;
    if (bits != 0 && i - words > 0) v |= a.limb[i - words - 1] >> (64 - bits);
    r.limb[i] = v;
  }
  return r;
}

// bitsBelow(a, s): whether any of a's bits below bit s is set.
bool bitsBelow(const Wide& a, int s) {
  for (int i = 0; i < kLimbs && s > 0; ++i, s -= 64) {
    const std::uint64_t mask = s >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << s) - 1;
    if ((a.limb[i] & mask) != 0) return true;
  }
  return false;
}

// top64(a, len): the 64 bits of a from bit len - 1 down (len >= 64: a's bit length).
std::uint64_t top64(const Wide& a, int len) {
  const int s = len - 64;
  const int word = s / 64, bits = s % 64;
  std::uint64_t v = a.limb[word] >> bits;
  if (bits != 0 && word + 1 < kLimbs) v |= a.limb[word + 1] << (64 - bits);
  return v;
}

}  // namespace

Wide toWide(U128 v) {
  Wide r;
  r.limb[0] = low(v);
  r.limb[1] = high(v);
  return r;
}

Wide product(U128 a, U128 b) {
  const U128 a0 = low(a), a1 = high(a), b0 = low(b), b1 = high(b);
  const U128 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  Wide r;
  r.limb[0] = low(p00);
  const U128 mid = U128{high(p00)} + low(p01) + low(p10);
  r.limb[1] = low(mid);
  const U128 upper = U128{high(mid)} + high(p01) + high(p10) + low(p11);
  r.limb[2] = low(upper);
  r.limb[3] = high(upper) + high(p11);
  return r;
}

Wide times(const Wide& a, std::uint64_t k) {
  Wide r;
  U128 carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const U128 v = U128{a.limb[i]} * k + carry;
    r.limb[i] = low(v);
    carry = high(v);
  }
  KC_ASSERT(carry == 0, "a product of moment sums is below 2^256");
  return r;
}

Wide plus(const Wide& a, const Wide& b) {
  Wide r;
  U128 carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const U128 v = U128{a.limb[i]} + b.limb[i] + carry;
    r.limb[i] = low(v);
    carry = high(v);
  }
  KC_ASSERT(carry == 0, "a sum of moment sums is below 2^256");
  return r;
}

Wide minus(const Wide& a, const Wide& b) {
  KC_ASSERT(!less(a, b), "a difference of moment sums is not negative");
  Wide r;
  std::uint64_t borrow = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const std::uint64_t d = a.limb[i] - b.limb[i];
    const std::uint64_t next = (a.limb[i] < b.limb[i] || d < borrow) ? 1 : 0;
    r.limb[i] = d - borrow;
    borrow = next;
  }
  return r;
}

bool less(const Wide& a, const Wide& b) {
  for (int i = kLimbs - 1; i >= 0; --i)
    if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i];
  return false;
}

bool isZero(const Wide& a) { return bitLength(a) == 0; }

double quotient(const Wide& num, std::uint64_t den) {
  KC_ASSERT(den != 0, "a moment's divisor is positive");
  const int length = bitLength(num);
  if (length == 0) return 0.0;
  // Scaled to 192 bits or more, the quotient keeps at least 128: its top 64 bits and whether
  // anything below them (or the remainder) is set decide the rounding.
  const int scale = std::max(0, 192 - length);
  const Wide n = shiftedLeft(num, scale);
  Wide q;
  U128 rest = 0;
  for (int i = kLimbs - 1; i >= 0; --i) {
    const U128 current = (rest << 64) | n.limb[i];
    q.limb[i] = low(current / den);
    rest = current % den;
  }
  const int qLength = bitLength(q);
  const std::uint64_t top = top64(q, qLength);
  const bool sticky = rest != 0 || bitsBelow(q, qLength - 64);
  std::uint64_t mantissa = top >> 11;
  const std::uint64_t dropped = top & 0x7FF;
  if (dropped > 0x400 || (dropped == 0x400 && (sticky || (mantissa & 1) != 0))) ++mantissa;
  return std::ldexp(static_cast<double>(mantissa), qLength - 64 + 11 - scale);
}

}  // namespace kc_Exact
