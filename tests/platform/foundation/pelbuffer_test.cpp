// Tests of pel images: allocation limits, row alignment, windows, sharing and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>

#include "image_reference.h"

#include <gtest/gtest.h>

#include <cstdint>

using imgref::Pels;

namespace {

using Bytes = std::vector<unsigned char>;

// ---- construction ----

TEST(PelBuffer, Construct_zeroFilledRowsAligned) {
  kcPelBuffer<unsigned char> image(37, 5, 64);
  EXPECT_TRUE(image.isBound());
  EXPECT_EQ(image.rowStride(), 64);
  for (long y = 0; y < 5; ++y) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.pointToRow(y)) % 64, 0u);
    for (long x = 0; x < 37; ++x) EXPECT_EQ(image.pointToRow(y)[x], 0);
  }
}

TEST(PelBuffer, Construct_badSizeOrAlignment_refused) {
  using Image = kcPelBuffer<unsigned char>;
  EXPECT_THROW(Image(-1, 4), kcBadArgument);
  EXPECT_THROW(Image(4, -1), kcBadArgument);
  EXPECT_THROW(Image(4, 4, 0), kcBadArgument);
  EXPECT_THROW(Image(4, 4, 24), kcBadArgument);
  EXPECT_THROW(Image(4, 4, 8192), kcBadArgument);
  EXPECT_THROW(Image(1L << 20, 1L << 20), kcBadArgument);  // 2^40 bytes: refused, not attempted
  EXPECT_THROW(Image(1L << 40, 1), kcBadArgument);
}

TEST(PelBuffer, ZeroWidth_boundButEmpty) {
  kcPelBuffer_const<unsigned char> image(0, 3);
  EXPECT_TRUE(image.isBound());
  EXPECT_EQ(image.width(), 0);
  EXPECT_FALSE(kcPelBuffer_const<unsigned char>().isBound());
}

TEST(PelBuffer, PointToRow_outsideOrUnbound_refused) {
  kcPelBuffer<unsigned char> image(3, 2);
  EXPECT_THROW(image.pointToRow(2), kcBadArgument);
  EXPECT_THROW(image.pointToRow(-1), kcBadArgument);
  image.setUnbound();
  EXPECT_THROW(image.pointToRow(0), kcBadArgument);
  EXPECT_EQ(image.width(), 0);
}

// ---- sharing, windows, deep copies ----

TEST(PelBuffer, Copies_sharePels_deepCopyDoesNot) {
  kcPelBuffer<unsigned char> image(4, 2);
  kcPelBuffer_const<unsigned char> view = image;
  kcPelBuffer<unsigned char> deep = image.deepCopy();
  image.pointToRow(1)[2] = 9;
  EXPECT_EQ(view.pointToRow(1)[2], 9);
  EXPECT_EQ(deep.pointToRow(1)[2], 0);
}

TEST(PelBuffer, SubWindow_imageCoordinates_sharesAndOffsets) {
  kcPelBuffer<unsigned char> image(10, 6);
  image.offset(kcPair<long>(-5, 20));
  kcPelBuffer<unsigned char> sub = image.subWindow(kcPelRect(-3, 22, 4, 3));
  EXPECT_EQ(sub.offset(), kcPair<long>(-3, 22));
  EXPECT_EQ(sub.width(), 4);
  sub.pointToRow(0)[0] = 7;  // image pel (2, 2)
  EXPECT_EQ(image.pointToRow(2)[2], 7);
  kcPelBuffer<unsigned char> subsub = sub.subWindow(kcPelRect(-3, 22, 1, 1));
  EXPECT_EQ(subsub.pointToRow(0)[0], 7);
}

TEST(PelBuffer, SubWindow_outsideOrEmpty_refused) {
  kcPelBuffer<unsigned char> image(10, 6);
  image.offset(kcPair<long>(1, 1));
  EXPECT_THROW(image.subWindow(kcPelRect(0, 1, 2, 2)), kcBadArgument);
  EXPECT_THROW(image.subWindow(kcPelRect(2, 2, 10, 1)), kcBadArgument);
  EXPECT_THROW(image.subWindow(kcPelRect(2, 6, 1, 2)), kcBadArgument);
  EXPECT_THROW(image.subWindow(kcPelRect(2, 2, 0, 2)), kcBadArgument);
  EXPECT_THROW(kcPelBuffer<unsigned char>().subWindow(kcPelRect(0, 0, 1, 1)), kcBadArgument);
}

TEST(PelBuffer, SamePels_comparesWindowNotPadding) {
  kcPelBuffer<unsigned char> a(3, 2, 1), b(3, 2, 64);
  EXPECT_TRUE(a.samePels(b));
  b.pointToRow(1)[2] = 1;
  EXPECT_FALSE(a.samePels(b));
  a.pointToRow(1)[2] = 1;
  a.offset(kcPair<long>(0, 1));
  EXPECT_FALSE(a.samePels(b));
  EXPECT_FALSE(a.samePels(kcPelBuffer<unsigned char>()));
}

// ---- archive form ----

Bytes store(kc_PelBuffer& image) {
  Bytes bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  out || image;
  return bytes;
}

TEST(PelArchive, RoundTrip_windowOffsetTransform) {
  std::mt19937 rng(3);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(0.0, -1.0, 1.0, 0.0), kcVector<2>(5.0, 6.0))));
  for (int i = 0; i < 20; ++i) {
    kcPelBuffer<unsigned char> image = imgref::randomImage(rng);  // sub-windows among them
    image.copyXforms(cache);
    Bytes bytes = store(image);
    kcPelBuffer_const<unsigned char> back;
    kcArchive in(bytes, kcArchive::eLoading);
    in || back;
    EXPECT_TRUE(back.samePels(image));
    EXPECT_EQ(back.xformCache().linearXform().xform(), cache.linearXform().xform());
  }
  kcPelBuffer<unsigned char> unbound, back(2, 2);
  Bytes bytes = store(unbound);
  kcArchive in(bytes, kcArchive::eLoading);
  in || back;
  EXPECT_FALSE(back.isBound());
}

TEST(PelArchive, Damaged_throwsAndKeepsImage) {
  kcPelBuffer<unsigned char> image(5, 4);
  image.pointToRow(3)[4] = 8;
  const Bytes good = store(image);
  // Layout: version, bound, width (4 bytes), height (4 bytes), offset, transform cache, pels.
  Bytes truncated(good.begin(), good.end() - 1);
  Bytes tall = good;
  tall[6] = 200;  // height 200 with 20 pels stored
  Bytes negative = good;
  negative[5] = 0xFF;  // width -1 (high byte)
  Bytes newer = good;
  newer[0] = 1;
  kcPelBuffer<unsigned char> target(1, 1);
  target.pointToRow(0)[0] = 3;
  for (const Bytes* bytes : {&truncated, &tall, &negative}) {
    kcArchive in(bytes->data(), bytes->size());
    EXPECT_THROW(in || target, kcArchive::Damaged);
    EXPECT_EQ(target.width(), 1);
    EXPECT_EQ(target.pointToRow(0)[0], 3);
  }
  kcArchive in(newer.data(), newer.size());
  EXPECT_THROW(in || target, kcArchive::UnknownVersion);
}

}  // namespace
