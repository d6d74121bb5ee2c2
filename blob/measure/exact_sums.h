// Exact integer arithmetic for the moments: unsigned integers of 256 bits built from 128-bit
// products, and their quotients by a 64-bit divisor rounded once to the nearest double. Internal:
// used by the moment arithmetic (blob_moments.cpp) and its tests.
#pragma once

#include <cstdint>

namespace kc_Exact {

__extension__ typedef unsigned __int128 U128;

// Wide: an unsigned integer below 2^256, four 64-bit limbs, the least significant first.
struct Wide {
  std::uint64_t limb[4] = {0, 0, 0, 0};
};

Wide toWide(U128 v);
// product(a, b): a x b, exact.
Wide product(U128 a, U128 b);
// times(a, k): a x k. Internal assertion: the product is below 2^256.
Wide times(const Wide& a, std::uint64_t k);
// plus(a, b): a + b. Internal assertion: the sum is below 2^256.
Wide plus(const Wide& a, const Wide& b);
// minus(a, b): a - b. Internal assertion: a >= b.
Wide minus(const Wide& a, const Wide& b);
bool less(const Wide& a, const Wide& b);
bool isZero(const Wide& a);

// quotient(num, den): num / den rounded to the nearest double, ties to even: the one rounding of
// the exact value. Internal assertion: den > 0. Cost: a few hundred instructions.
double quotient(const Wide& num, std::uint64_t den);

}  // namespace kc_Exact
