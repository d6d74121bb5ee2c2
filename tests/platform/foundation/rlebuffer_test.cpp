// Tests of run-length images: adoption and validation of rows, decoding, sub-windows, copies,
// the row writer and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"

#include <gtest/gtest.h>

#include <cstring>

using imgref::Pels;

namespace {

using Bytes = std::vector<unsigned char>;
using Rows = std::vector<const unsigned char*>;

kcRLEBuffer encoded(const kcPelBuffer_const<unsigned char>& image) {
  kcRLEBuffer rle;
  rle.encode(image);
  return rle;
}

Bytes store(kcRLEBuffer& rle) {
  Bytes bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  out || rle;
  return bytes;
}

// ---- degenerate images ----

TEST(RleBuffer, Default_isDegenerate_noRows) {
  kcRLEBuffer rle;
  EXPECT_TRUE(rle.isDegenerate());
  EXPECT_EQ(rle.size(), kcPair<long>(0, 0));
  EXPECT_EQ(rle.numRuns(), 0u);
  EXPECT_EQ(rle.pointToRat(), nullptr);
  EXPECT_THROW(rle.pointToRow(0), kcBadArgument);
  EXPECT_THROW(rle.subWindow(kcPelRect(0, 0, 1, 1)), kcBadArgument);
  EXPECT_FALSE(rle.image().isBound());
}

TEST(RleBuffer, SetUnbound_dropsRunsKeepsOffset) {
  kcPelBuffer<unsigned char> image(3, 2);
  image.offset(kcPair<long>(7, 8));
  kcRLEBuffer rle = encoded(image);
  kcRLEBuffer copy = rle;
  rle.setUnbound();
  EXPECT_TRUE(rle.isDegenerate());
  EXPECT_EQ(rle.offset(), kcPair<long>(7, 8));
  EXPECT_EQ(copy.width(), 3);  // a copy keeps the shared runs
  EXPECT_EQ(imgref::pelsOf(copy), (Pels{{0, 0, 0}, {0, 0, 0}}));
}

// ---- becomeOwner: adoption and validation ----

TEST(RleBuffer, BecomeOwner_rowsInSeveralChunks_adoptedInPlace) {
  std::vector<Bytes> chunks = {{5, 3, 0, 2, 0, 0}, {1, 1, 7, 4, 0, 0, 9, 5, 0, 0}};
  Rows rows = {chunks[1].data() + 6, chunks[0].data(), chunks[1].data()};  // rows out of chunk order
  const unsigned char* adopted = chunks[1].data();
  kcRLEBuffer rle;
  rle.offset(kcPair<long>(-1, 4));
  rle.becomeOwner(5, rows, chunks, true);
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(rle.pointToRow(2), adopted);
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{9, 9, 9, 9, 9}, {5, 5, 5, 0, 0}, {1, 7, 7, 7, 7}}));
  EXPECT_EQ(rle.numRuns(), 5u);
  EXPECT_FALSE(rle.isBinary());
  EXPECT_EQ(rle.offset(), kcPair<long>(-1, 4));
}

TEST(RleBuffer, BecomeOwner_copying_leavesChunksWithCaller) {
  std::vector<Bytes> chunks = {{1, 2, 0, 0, 0, 1, 1, 1, 0, 0}};
  Rows rows = {chunks[0].data(), chunks[0].data() + 4};
  kcRLEBuffer rle;
  rle.becomeOwner(2, rows, chunks, false);
  ASSERT_EQ(chunks.size(), 1u);
  chunks[0][0] = 0;  // the image has its own copy
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{1, 1}, {0, 1}}));
  EXPECT_TRUE(rle.isBinary());
}

TEST(RleBuffer, BecomeOwner_malformedRows_refusedUnchanged) {
  struct Case {
    const char* what;
    Bytes chunk;
    long width;
  };
  const Case cases[] = {
      {"lengths short of the width", {4, 3, 0, 0}, 4},
      {"lengths past the width", {4, 3, 4, 2, 0, 0}, 4},
      {"no terminator inside the chunk", {4, 2, 4, 2}, 4},
      {"odd byte at the end", {4, 4, 0}, 4},
      {"terminator with a value", {4, 4, 3, 0}, 4},
      {"empty chunk", {}, 4},
      {"negative width", {0, 0}, -1},
  };
  for (const Case& c : cases) {
    kcRLEBuffer rle;
    Bytes chunk = c.chunk;
    Rows rows = {chunk.empty() ? nullptr : chunk.data()};
    EXPECT_THROW(rle.becomeOwner(c.width, rows, chunk), kcBadArgument) << c.what;
    EXPECT_TRUE(rle.isDegenerate()) << c.what;
    EXPECT_EQ(chunk, c.chunk) << c.what;
  }
}

TEST(RleBuffer, BecomeOwner_rowOutsideChunks_refused) {
  Bytes chunk = {1, 2, 0, 0};
  Bytes elsewhere = {1, 2, 0, 0};
  kcRLEBuffer rle;
  Rows outside = {chunk.data(), elsewhere.data()};
  EXPECT_THROW(rle.becomeOwner(2, outside, chunk), kcBadArgument);
  Rows null = {nullptr};
  EXPECT_THROW(rle.becomeOwner(2, null, chunk), kcBadArgument);
  // A row starting inside one chunk may not run on into the next even when they are adjacent.
  std::vector<Bytes> split = {Bytes{1, 1}, Bytes{1, 1, 0, 0}};
  Rows spanning = {split[0].data()};
  EXPECT_THROW(rle.becomeOwner(2, spanning, split, true), kcBadArgument);
  EXPECT_EQ(split.size(), 2u);
}

TEST(RleBuffer, BecomeOwner_zeroRows_degenerate) {
  Bytes chunk = {0, 0};
  kcRLEBuffer rle;
  rle.becomeOwner(0, Rows{chunk.data()}, chunk);
  EXPECT_TRUE(rle.isDegenerate());
}

// ---- decoding, sub-windows, equality ----

TEST(RleBuffer, Image_roundTripOfEncode_samePelsOffsetTransform) {
  std::mt19937 rng(7);
  for (int i = 0; i < 40; ++i) {
    auto image = imgref::randomImage(rng);
    kcRLEBuffer rle = encoded(image);
    kcPelBuffer<unsigned char> back = rle.image();
    EXPECT_TRUE(back.samePels(image));
    EXPECT_EQ(back.offset(), image.offset());
  }
}

TEST(RleBuffer, SubWindow_randomRects_matchPelWindow) {
  std::mt19937 rng(11);
  for (int i = 0; i < 120; ++i) {
    auto image = imgref::randomImage(rng);
    long w = 1 + static_cast<long>(rng() % image.width()), h = 1 + static_cast<long>(rng() % image.height());
    long x = static_cast<long>(rng() % (image.width() - w + 1)), y = static_cast<long>(rng() % (image.height() - h + 1));
    kcPelRect rect(image.offset().x() + x, image.offset().y() + y, w, h);
    kcRLEBuffer sub = encoded(image).subWindow(rect);
    ASSERT_EQ(imgref::layoutError(sub, true), "");
    EXPECT_EQ(sub.offset(), rect.ul());
    EXPECT_EQ(imgref::pelsOf(sub), imgref::pelsOf(image.subWindow(rect)));
  }
}

TEST(RleBuffer, SubWindow_outsideOrEmpty_refused) {
  kcPelBuffer<unsigned char> image(10, 5);
  image.offset(kcPair<long>(100, 200));
  kcRLEBuffer rle = encoded(image);
  EXPECT_NO_THROW(rle.subWindow(kcPelRect(100, 200, 10, 5)));
  EXPECT_THROW(rle.subWindow(kcPelRect(0, 0, 1, 1)), kcBadArgument);  // buffer, not image coordinates
  EXPECT_THROW(rle.subWindow(kcPelRect(101, 200, 10, 5)), kcBadArgument);
  EXPECT_THROW(rle.subWindow(kcPelRect(100, 199, 2, 2)), kcBadArgument);
  EXPECT_THROW(rle.subWindow(kcPelRect(100, 200, 0, 5)), kcBadArgument);
}

TEST(RleBuffer, Equality_ignoresRunSplitting_notPelsOrOffset) {
  Bytes a = {5, 100, 5, 165, 0, 0}, b = {5, 255, 5, 10, 0, 0}, c = {5, 255, 6, 10, 0, 0};
  kcRLEBuffer ra, rb, rc;
  ra.becomeOwner(265, Rows{a.data()}, a);
  rb.becomeOwner(265, Rows{b.data()}, b);
  rc.becomeOwner(265, Rows{c.data()}, c);
  EXPECT_TRUE(ra == rb);
  EXPECT_FALSE(rb == rc);
  rb.offset(kcPair<long>(0, 1));
  EXPECT_FALSE(ra == rb);
  EXPECT_FALSE(ra == kcRLEBuffer());
}

// ---- copies and notices ----

TEST(RleBuffer, Copy_sharesRuns_unaffectedByLaterEncode) {
  kcPelBuffer<unsigned char> image(4, 1);
  image.pointToRow(0)[1] = 3;
  kcRLEBuffer rle = encoded(image);
  kcRLEBuffer copy = rle;
  EXPECT_EQ(copy.pointToRat(), rle.pointToRat());
  rle.encode(image, 2, true);
  EXPECT_EQ(imgref::pelsOf(copy), (Pels{{0, 3, 0, 0}}));
}

TEST(RleBuffer, Setters_giveNotice) {
  kcRLEBuffer rle;
  std::uint64_t n = rle.mutationCount();
  rle.offset(kcPair<long>(1, 1));
  rle.copyXforms(kc2XformCache());
  rle.setUnbound();
  rle = kcRLEBuffer();
  EXPECT_EQ(rle.mutationCount(), n + 4);
}

// ---- the row writer ----

TEST(RleRowWriter, Put_joinsEqualSpansAndSplitsLongOnes) {
  kc_RLERowWriter writer(700, 2);
  writer.put(7, 200);
  writer.put(7, 400);
  writer.put(0, 0);  // ignored, does not break the span
  writer.put(7, 50);
  writer.put(2, 50);
  writer.endRow();
  writer.put(0, 700);
  writer.endRow();
  kcRLEBuffer rle = writer.finish(kcPair<long>(3, 4), kc2XformCache());
  const unsigned char* r = rle.pointToRow(0);
  EXPECT_EQ(std::vector<int>(r, r + 10), (std::vector<int>{7, 255, 7, 255, 7, 140, 2, 50, 0, 0}));
  EXPECT_EQ(rle.numRuns(), 7u);
  EXPECT_EQ(rle.offset(), kcPair<long>(3, 4));
  EXPECT_EQ(imgref::layoutError(rle, true), "");
}

TEST(RleRowWriter, RowOfWrongWidth_failsInvariant) {
  kc_RLERowWriter writer(5, 1);
  writer.put(1, 4);
  EXPECT_THROW(writer.endRow(), kcInvariantFailure);
  EXPECT_THROW(kc_RLERowWriter(-1, 1), kcBadArgument);
}

// ---- archive form ----

TEST(RleArchive, RoundTrip_randomImages_equalWithGeometryAndTransform) {
  std::mt19937 rng(5);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(2.0, 0.5, 0.0, 1.0), kcVector<2>(-3.0, 4.0))));
  for (int i = 0; i < 30; ++i) {
    kcRLEBuffer rle = i == 0 ? kcRLEBuffer() : encoded(imgref::randomImage(rng));
    rle.offset(kcPair<long>(i - 15, 2 * i));
    rle.copyXforms(cache);
    Bytes bytes = store(rle);
    kcRLEBuffer back;
    kcArchive in(bytes, kcArchive::eLoading);
    in || back;
    EXPECT_TRUE(back == rle);
    EXPECT_EQ(imgref::layoutError(back, false), "");
    EXPECT_EQ(back.isBinary(), rle.isBinary());
    EXPECT_EQ(back.xformCache().linearXform().xform(), cache.linearXform().xform());
  }
}

// Layout of a stored bound image: version, base version, bound, width, height, byte count, runs.
constexpr std::size_t kRunsAt = 1 + 1 + 1 + 4 + 4 + 4;

TEST(RleArchive, DamagedRows_throwDamagedAndKeepTarget) {
  kcPelBuffer<unsigned char> image(300, 2);
  image.pointToRow(1)[299] = 4;
  kcRLEBuffer source = encoded(image);  // rows: (0,255)(0,45)(0,0) / (0,255)(0,44)(4,1)(0,0)
  const Bytes good = store(source);
  auto patched = [&](std::size_t at, unsigned char v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  const Bytes damaged[] = {
      patched(kRunsAt + 3, 46),                               // first row one pel too long
      patched(kRunsAt + 5, 9),                                // first terminator lost
      patched(kRunsAt + 4, 1),                                // terminator carrying a value
      patched(kRunsAt - 4, static_cast<unsigned char>(good[kRunsAt - 4] - 2)),  // last row cut off
      patched(1 + 1 + 1 + 4, 3),                              // height 3 with two rows of runs
      patched(1 + 1 + 1, 0),                                  // width 0 while bound
      Bytes(good.begin(), good.begin() + 20),                 // truncated
  };
  kcRLEBuffer target = encoded(kcPelBuffer<unsigned char>(2, 2));
  const kcRLEBuffer before = target;
  for (const Bytes& bytes : damaged) {
    kcArchive in(bytes.data(), bytes.size());
    EXPECT_THROW(in || target, kcArchive::Damaged);
    EXPECT_TRUE(target == before);
  }
}

TEST(RleArchive, NewerVersion_throwsUnknownVersion) {
  kcRLEBuffer rle;
  Bytes bytes = store(rle);
  bytes[0] = 1;
  kcArchive in(bytes, kcArchive::eLoading);
  EXPECT_THROW(in || rle, kcArchive::UnknownVersion);
}

TEST(RleArchive, ThroughPointer_createsRegisteredClass) {
  kcRLEBuffer rle = encoded(kcPelBuffer<unsigned char>(3, 3));
  Bytes bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kcPersistent* loaded = nullptr;
    kcPersistent::serializePointer(out, &rle, loaded);
  }
  kcArchive in(bytes, kcArchive::eLoading);
  kcPersistent* loaded = nullptr;
  kcPersistent::serializePointer(in, nullptr, loaded, true);
  std::unique_ptr<kcPersistent> owner(loaded);
  auto* back = dynamic_cast<kcRLEBuffer*>(loaded);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(*back == rle);
}

}  // namespace
