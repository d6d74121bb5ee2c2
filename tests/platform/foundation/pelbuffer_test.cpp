// Tests of pel images: allocation limits, row alignment and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>

#include "archive_bytes.h"
#include "image_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

using Image = kcPelBuffer<unsigned char>;
using archive_bytes::Bytes;
using archive_bytes::stored;

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

TEST(PelArchive, RoundTrip_windowsOffsetTransformUnbound) {
  std::mt19937 rng(3);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(0.0, -1.0, 1.0, 0.0), kcVector<2>(5.0, 6.0))));
  for (int i = 0; i < 20; ++i) {
    Image image = i == 0 ? Image() : imgref::randomImage(rng);
    image.copyXforms(cache);
    Bytes bytes = stored(image);
    kcPelBuffer_const<unsigned char> back(2, 2);
    kcArchive in(bytes, kcArchive::eLoading);
    in || back;
    EXPECT_TRUE(back.samePels(image) && back.xformCache().linearXform().xform() == cache.linearXform().xform());
  }
}

TEST(PelArchive, Damaged_throwsAndKeepsImage) {
  Image image(5, 4);
  const Bytes good = stored(image);  // version, bound, width, height (4 bytes each), ...
  Bytes truncated(good.begin(), good.end() - 1), tall = good, negative = good;
  tall[6] = 200;      // height 200 with 20 pels stored
  negative[5] = 0xFF;  // width below 0
  Image target(1, 1);
  target.pointToRow(0)[0] = 3;
  for (const Bytes* bytes : {&truncated, &tall, &negative}) {
    kcArchive in(bytes->data(), bytes->size());
    EXPECT_THROW(in || target, kcArchive::Damaged);
    EXPECT_EQ(target.width(), 1);
    EXPECT_EQ(target.pointToRow(0)[0], 3);
  }
}

}  // namespace
