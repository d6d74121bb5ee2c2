// Tests of run-length images: adoption and validation of rows, sub-windows, equality, the row
// writer and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "archive_bytes.h"
#include "image_reference.h"

#include <gtest/gtest.h>

using imgref::Pels;

namespace {

using archive_bytes::Bytes;
using archive_bytes::stored;
using Rows = std::vector<const unsigned char*>;

kcRLEBuffer encoded(const kcPelBuffer_const<unsigned char>& image) {
  kcRLEBuffer rle;
  rle.encode(image);
  return rle;
}

TEST(RleBuffer, BecomeOwner_severalChunks_adoptedInPlace) {
  std::vector<Bytes> chunks = {{5, 3, 0, 2, 0, 0}, {1, 1, 7, 4, 0, 0, 9, 5, 0, 0}};
  Rows rows = {chunks[1].data() + 6, chunks[0].data(), chunks[1].data()};  // out of chunk order
  const unsigned char* lastRow = chunks[1].data();
  kcRLEBuffer rle;
  rle.becomeOwner(5, rows, chunks, true);
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(rle.pointToRow(2), lastRow);
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{9, 9, 9, 9, 9}, {5, 5, 5, 0, 0}, {1, 7, 7, 7, 7}}));
  EXPECT_EQ(imgref::layoutError(rle, false), "");

  std::vector<Bytes> kept = {{1, 2, 0, 0}};
  rle.becomeOwner(2, Rows{kept[0].data()}, kept, false);  // copied: the caller keeps the chunk
  kept[0][0] = 0;
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{1, 1}}));
}

TEST(RleBuffer, BecomeOwner_malformedRows_refusedUnchanged) {
  const std::pair<const char*, Bytes> cases[] = {
      {"lengths short of the width", {4, 3, 0, 0}},
      {"lengths past the width", {4, 3, 4, 2, 0, 0}},
      {"no terminator inside the chunk", {4, 2, 4, 2}},
      {"odd byte at the end", {4, 4, 0}},
      {"terminator with a value", {4, 4, 3, 0}},
  };
  kcRLEBuffer rle = encoded(kcPelBuffer<unsigned char>(2, 2));
  const kcRLEBuffer before = rle;
  for (const auto& [what, bytes] : cases) {
    Bytes chunk = bytes;
    EXPECT_THROW(rle.becomeOwner(4, Rows{chunk.data()}, chunk), kcBadArgument) << what;
    EXPECT_EQ(chunk, bytes) << what;
  }
  Bytes chunk = {1, 2, 0, 0}, elsewhere = {1, 2, 0, 0};
  EXPECT_THROW(rle.becomeOwner(2, Rows{chunk.data(), elsewhere.data()}, chunk), kcBadArgument);
  EXPECT_THROW(rle.becomeOwner(2, Rows{nullptr}, chunk), kcBadArgument);
  EXPECT_THROW(rle.becomeOwner(-1, Rows{chunk.data()}, chunk), kcBadArgument);
  // A row may not run on from its chunk into another one.
  std::vector<Bytes> split = {Bytes{1, 1}, Bytes{1, 1, 0, 0}};
  EXPECT_THROW(rle.becomeOwner(2, Rows{split[0].data()}, split, true), kcBadArgument);
  EXPECT_EQ(split.size(), 2u);
  EXPECT_TRUE(rle == before);
}

TEST(RleBuffer, SubWindow_randomRects_matchPelWindow) {
  std::mt19937 rng(11);
  for (int i = 0; i < 120; ++i) {
    auto image = imgref::randomImage(rng);
    const auto below = [&rng](long n) { return static_cast<long>(rng() % static_cast<unsigned long>(n)); };
    long w = 1 + below(image.width()), h = 1 + below(image.height());
    kcPelRect rect(image.offset().x() + below(image.width() - w + 1),
                   image.offset().y() + below(image.height() - h + 1), w, h);
    kcRLEBuffer sub = encoded(image).subWindow(rect);
    ASSERT_EQ(imgref::layoutError(sub, true), "");
    EXPECT_EQ(sub.offset(), rect.ul());
    EXPECT_EQ(imgref::pelsOf(sub), imgref::pelsOf(image.subWindow(rect)));
  }
  kcPelBuffer<unsigned char> image(10, 5);
  image.offset(kcPair<long>(100, 200));
  kcRLEBuffer rle = encoded(image);
  EXPECT_THROW(rle.subWindow(kcPelRect(0, 0, 1, 1)), kcBadArgument);  // image, not buffer, coordinates
  EXPECT_THROW(rle.subWindow(kcPelRect(101, 200, 10, 5)), kcBadArgument);
  EXPECT_THROW(rle.subWindow(kcPelRect(100, 199, 2, 2)), kcBadArgument);
  EXPECT_THROW(rle.subWindow(kcPelRect(100, 200, 0, 5)), kcBadArgument);
}

TEST(RleBuffer, Equality_ignoresRunSplitting_notPelsOrOffset_defaultDegenerate) {
  const auto adopt = [](Bytes b) {
    kcRLEBuffer r;
    r.becomeOwner(265, Rows{b.data()}, b);
    return r;
  };
  kcRLEBuffer ra = adopt({5, 100, 5, 165, 0, 0}), rb = adopt({5, 255, 5, 10, 0, 0}), none;
  EXPECT_TRUE(ra == rb);
  EXPECT_FALSE(rb == adopt({5, 255, 6, 10, 0, 0}));
  rb.offset(kcPair<long>(0, 1));
  EXPECT_FALSE(ra == rb);
  EXPECT_FALSE(ra == none);
  EXPECT_TRUE(none.isDegenerate());
  EXPECT_EQ(none.pointToRat(), nullptr);
  EXPECT_THROW(none.pointToRow(0), kcBadArgument);
  EXPECT_FALSE(none.image().isBound());
}

TEST(RleRowWriter, Put_joinsEqualSpansAndSplitsLongOnes) {
  kc_RLERowWriter writer(700, 1);
  for (auto [value, length] : {std::pair{7, 200}, {7, 400}, {0, 0}, {7, 50}, {2, 50}})
    writer.put(static_cast<unsigned char>(value), static_cast<std::uint32_t>(length));
  writer.endRow();
  kcRLEBuffer rle = writer.finish(kcPair<long>(3, 4), kc2XformCache());
  const unsigned char* r = rle.pointToRow(0);
  EXPECT_EQ(Bytes(r, r + 10), (Bytes{7, 255, 7, 255, 7, 140, 2, 50, 0, 0}));
  EXPECT_EQ(rle.offset(), kcPair<long>(3, 4));
  kc_RLERowWriter shortRow(5, 1);
  shortRow.put(1, 4);
  EXPECT_THROW(shortRow.endRow(), kcInvariantFailure);
}

TEST(RleArchive, RoundTrip_randomImages_equalWithTransform) {
  std::mt19937 rng(5);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(2.0, 0.5, 0.0, 1.0), kcVector<2>(-3.0, 4.0))));
  for (int i = 0; i < 30; ++i) {
    kcRLEBuffer rle = i == 0 ? kcRLEBuffer() : encoded(imgref::randomImage(rng));
    rle.offset(kcPair<long>(i - 15, 2 * i));
    rle.copyXforms(cache);
    Bytes bytes = stored(rle);
    kcArchive in(bytes, kcArchive::eLoading);
    kcRLEBuffer back;
    in || back;
    EXPECT_TRUE(back == rle);
    EXPECT_EQ(imgref::layoutError(back, false), "");
    EXPECT_EQ(back.xformCache().linearXform().xform(), cache.linearXform().xform());
  }
}

TEST(RleArchive, DamagedRows_throwAndKeepTarget) {
  kcPelBuffer<unsigned char> image(300, 2);
  image.pointToRow(1)[299] = 4;
  kcRLEBuffer source = encoded(image);  // rows (0,255)(0,45)(0,0) and (0,255)(0,44)(4,1)(0,0)
  const Bytes good = stored(source);
  // Stored: version, base version, bound, width, height, byte count (4 bytes each), then runs.
  constexpr std::size_t kRuns = 15;
  auto patched = [&](std::size_t at, unsigned char v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  const Bytes damaged[] = {
      patched(kRuns + 3, 46),                                        // first row one pel too long
      patched(kRuns + 5, 9),                                         // first terminator lost
      patched(kRuns - 4, static_cast<unsigned char>(good[kRuns - 4] - 2)),  // last row cut short
      patched(7, 3),                                                 // height 3, two rows stored
      Bytes(good.begin(), good.begin() + 20),                        // truncated
  };
  kcRLEBuffer target = encoded(kcPelBuffer<unsigned char>(2, 2));
  const kcRLEBuffer before = target;
  for (const Bytes& bytes : damaged) {
    kcArchive in(bytes.data(), bytes.size());
    EXPECT_THROW(in || target, kcArchive::Damaged);
    EXPECT_TRUE(target == before);
  }
  Bytes newer = patched(0, 1);
  kcArchive in(newer, kcArchive::eLoading);
  EXPECT_THROW(in || target, kcArchive::UnknownVersion);
}

}  // namespace
