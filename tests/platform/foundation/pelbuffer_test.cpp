// Tests of pel images: allocation limits, row alignment and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>

#include "archive_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

using Image = kcPelBuffer<unsigned char>;
using archive_bytes::Bytes;
using archive_bytes::storedValue;

TEST(PelBuffer, Construct_zeroFilledAlignedRows_badRequestsRefused) {
  Image image(37, 5, 64);
  for (long y = 0; y < 5; ++y)
    EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(image.pointToRow(y)) % 64 == 0 && std::count(image.pointToRow(y), image.pointToRow(y) + 37, 0) == 37);
  EXPECT_THROW(image.pointToRow(5), kcBadArgument);
  EXPECT_THROW(Image().pointToRow(0), kcBadArgument);
  EXPECT_THROW(Image(-1, 4), kcBadArgument);
  EXPECT_THROW(Image(4, 4, 24), kcBadArgument);
  EXPECT_THROW(Image(1L << 20, 1L << 20), kcBadArgument);  // 2^40 bytes: refused, not attempted
  EXPECT_TRUE(Image(0, 3).isBound());
}

// A width below 0 (round trips and truncations: the archive corpus test).
TEST(PelArchive, NegativeWidth_throwsAndKeepsImage) {
  Bytes bytes = storedValue(Image(5, 4));  // version, bound, width, height (4 bytes each), ...
  bytes[5] = 0xFF;
  Image target(1, 1);
  target.pointToRow(0)[0] = 3;
  kcArchive in(bytes.data(), bytes.size());
  EXPECT_THROW(in || target, kcArchive::Damaged);
  EXPECT_TRUE(target.width() == 1 && target.pointToRow(0)[0] == 3);
}

}  // namespace
