// Tests of the run-length encoders against a pel-by-pel reference.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using imgref::Pels;

namespace {

using PelRule = std::function<unsigned char(unsigned char pel, long x, long y)>;

Pels mapPels(const Pels& in, const PelRule& rule) {
  Pels out = in;
  for (std::size_t y = 0; y < in.size(); ++y)
    for (std::size_t x = 0; x < in[y].size(); ++x) out[y][x] = rule(in[y][x], static_cast<long>(x), static_cast<long>(y));
  return out;
}

// expectEncoded: rle is the canonical encoding of `expected` with the image's geometry.
void expectEncoded(const kcRLEBuffer& rle, const kcPelBuffer_const<unsigned char>& image, const Pels& expected) {
  ASSERT_FALSE(rle.isDegenerate());
  ASSERT_EQ(rle.width(), image.width());
  ASSERT_EQ(rle.height(), image.height());
  EXPECT_EQ(rle.offset(), image.offset());
  ASSERT_EQ(imgref::layoutError(rle, true), "");
  ASSERT_TRUE(imgref::pelsOf(rle) == expected);
}

unsigned char softRef(unsigned char p, int low, int high, int softness, bool invert) {
  int s = softness + 1;
  double v;
  if (low >= high)
    v = p >= high ? s : 0;
  else if (p <= low)
    v = 0;
  else if (p >= high)
    v = s;
  else
    v = std::floor((p - low) * static_cast<double>(s) / (high - low) + 0.5);
  return static_cast<unsigned char>(invert ? s - v : v);
}

// The percentage mapping worked out from sorted pels.
int percentRef(const Pels& pels, long lowTail, long hiTail, int percent) {
  std::vector<int> all;
  for (const auto& row : pels) all.insert(all.end(), row.begin(), row.end());
  std::sort(all.begin(), all.end());
  auto n = static_cast<long long>(all.size());
  long long lowCut = n * lowTail / 100, hiCut = n * hiTail / 100;
  int lo, hi;
  if (lowCut + hiCut >= n) {
    lo = hi = all[static_cast<std::size_t>(std::min(lowCut, n - 1))];
  } else {
    lo = all[static_cast<std::size_t>(lowCut)];
    hi = all[static_cast<std::size_t>(n - 1 - hiCut)];
  }
  return lo + static_cast<int>(std::floor(percent * (hi - lo) / 100.0 + 0.5));
}

class RleEncode : public ::testing::Test {
 protected:
  std::mt19937 rng{20260611};
};

// ---- each encoder against the reference on random images ----

TEST_F(RleEncode, Encode_plainRandomImages_matchPels) {
  for (int i = 0; i < 150; ++i) {
    auto image = imgref::randomImage(rng);
    kcRLEBuffer rle;
    rle.encode(image);
    expectEncoded(rle, image, imgref::pelsOf(image));
  }
}

TEST_F(RleEncode, Encode_hardThreshold_matchesComparison) {
  for (int i = 0; i < 150; ++i) {
    auto image = imgref::randomImage(rng);
    static const int kThresholds[] = {0, 1, 128, 255};
    int t = i % 5 == 4 ? static_cast<int>(rng() % 256) : kThresholds[i % 4];
    bool invert = rng() % 2;
    kcRLEBuffer rle;
    rle.encode(image, static_cast<unsigned char>(t), invert);
    expectEncoded(rle, image, mapPels(imgref::pelsOf(image), [&](unsigned char p, long, long) {
                    return static_cast<unsigned char>((p >= t) != invert);
                  }));
    EXPECT_TRUE(rle.isBinary());
  }
}

TEST_F(RleEncode, Encode_map_appliesEveryEntry) {
  for (int i = 0; i < 60; ++i) {
    auto image = imgref::randomImage(rng);
    std::vector<unsigned char> map(256 + rng() % 3 * 10);
    for (auto& m : map) m = static_cast<unsigned char>(rng() % (i % 2 ? 2 : 256));
    kcRLEBuffer rle;
    rle.encode(image, map);
    expectEncoded(rle, image, mapPels(imgref::pelsOf(image), [&](unsigned char p, long, long) { return map[p]; }));
  }
}

TEST_F(RleEncode, Encode_softThreshold_rampRoundedHalfUp) {
  for (int i = 0; i < 120; ++i) {
    auto image = imgref::randomImage(rng);
    int low = static_cast<int>(rng() % 256), high = static_cast<int>(rng() % 256);
    if (i % 4 == 0) high = low;  // the low >= high rule, never a division by zero
    int softness = i % 7 == 0 ? 254 : static_cast<int>(rng() % 20);
    bool invert = rng() % 2;
    kcRLEBuffer rle;
    rle.encode(image, static_cast<unsigned char>(low), static_cast<unsigned char>(high), softness, invert);
    expectEncoded(rle, image, mapPels(imgref::pelsOf(image), [&](unsigned char p, long, long) {
                    return softRef(p, low, high, softness, invert);
                  }));
  }
}

TEST_F(RleEncode, Encode_softThresholdHalfway_roundsUp) {
  kcPelBuffer<unsigned char> image(4, 1);
  unsigned char* row = image.pointToRow(0);
  row[0] = 10, row[1] = 11, row[2] = 12, row[3] = 14;
  kcRLEBuffer rle;
  rle.encode(image, 10, 14, 1, false);  // S = 2: ramp 0, 0.5, 1, 2
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{0, 1, 1, 2}}));
  rle.encode(image, 10, 14, 1, true);
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{2, 1, 1, 0}}));
}

TEST_F(RleEncode, Encode_threshImage_clampedDifferenceThroughMaps) {
  for (int i = 0; i < 80; ++i) {
    auto image = imgref::randomImage(rng);
    kcPelBuffer<unsigned char> thresh(image.width(), image.height());
    imgref::fillRandom(thresh, rng, 256, 1 + static_cast<int>(rng() % 40));
    thresh.offset(kcPair<long>(3, -9));  // only the size has to match
    std::vector<unsigned char> pre, post;
    if (i % 2) pre.resize(256);
    if (i % 3) post.resize(256);
    for (auto& m : pre) m = static_cast<unsigned char>(rng() % 256);
    for (auto& m : post) m = static_cast<unsigned char>(rng() % 256);
    Pels q = imgref::pelsOf(thresh);
    kcRLEBuffer rle;
    rle.encode(image, pre, thresh, post);
    expectEncoded(rle, image, mapPels(imgref::pelsOf(image), [&](unsigned char p, long x, long y) {
                    int a = pre.empty() ? p : pre[p];
                    int d = std::clamp(a - q[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)], 0, 255);
                    return static_cast<unsigned char>(post.empty() ? d : post[static_cast<std::size_t>(d)]);
                  }));
  }
}

TEST_F(RleEncode, EncodePercent_hard_thresholdFromSortedPels) {
  static const long kTails[][2] = {{0, 0}, {10, 5}, {50, 50}, {100, 0}, {0, 100}, {33, 33}};
  for (int i = 0; i < 120; ++i) {
    auto image = imgref::randomImage(rng);
    const long* tails = kTails[i % 6];
    int percent = i % 5 == 0 ? 100 : i % 5 == 1 ? 0 : static_cast<int>(rng() % 101);
    bool invert = rng() % 2;
    Pels pels = imgref::pelsOf(image);
    int t = percentRef(pels, tails[0], tails[1], percent);
    kcRLEBuffer rle;
    rle.encodePercent(image, tails[0], tails[1], percent, invert);
    expectEncoded(rle, image, mapPels(pels, [&](unsigned char p, long, long) {
                    return static_cast<unsigned char>((p >= t) != invert);
                  }));
  }
}

TEST_F(RleEncode, EncodePercent_soft_rampBetweenMappedValues) {
  for (int i = 0; i < 100; ++i) {
    auto image = imgref::randomImage(rng);
    long lowTail = static_cast<long>(rng() % 60), hiTail = static_cast<long>(rng() % (101 - lowTail));
    int a = static_cast<int>(rng() % 101), b = static_cast<int>(rng() % 101);
    if (i % 4 == 0) b = a;  // equal percentages are legal
    int softness = static_cast<int>(rng() % 10);
    bool invert = rng() % 2;
    Pels pels = imgref::pelsOf(image);
    int low = percentRef(pels, lowTail, hiTail, std::min(a, b));
    int high = percentRef(pels, lowTail, hiTail, std::max(a, b));
    kcRLEBuffer rle;
    rle.encodePercent(image, lowTail, hiTail, std::min(a, b), std::max(a, b), softness, invert);
    expectEncoded(rle, image, mapPels(pels, [&](unsigned char p, long, long) {
                    return softRef(p, low, high, softness, invert);
                  }));
  }
}

TEST_F(RleEncode, EncodePercent_nothingRemains_usesValueBetweenTails) {
  // Ten pels 0..9: tails of 50% and 50% leave nothing; the boundary value is rank 5, i.e. 5.
  kcPelBuffer<unsigned char> image(10, 1);
  for (int x = 0; x < 10; ++x) image.pointToRow(0)[x] = static_cast<unsigned char>(x);
  kcRLEBuffer rle;
  rle.encodePercent(image, 50, 50, 0, false);
  EXPECT_EQ(imgref::pelsOf(rle), (Pels{{0, 0, 0, 0, 0, 1, 1, 1, 1, 1}}));
}

// ---- geometry of results ----

TEST_F(RleEncode, Encode_keepsOffsetAndTransform) {
  kcPelBuffer<unsigned char> image(5, 3);
  image.offset(kcPair<long>(-4, 17));
  kcXform<2> scale(kcMatrix<2>::scaling(2.0, 3.0), kcVector<2>(1.0, 0.0));
  kc2XformCache cache;
  cache.xform(kc2XformLinear(scale));
  image.copyXforms(cache);
  kcRLEBuffer rle;
  rle.encode(image, 1, false);
  EXPECT_EQ(rle.offset(), image.offset());
  EXPECT_EQ(rle.xformCache().linearXform().xform(), scale);
}

TEST_F(RleEncode, Encode_emptyPelImage_givesDegenerate) {
  kcPelBuffer<unsigned char> image(0, 4);
  image.offset(kcPair<long>(2, 2));
  kcRLEBuffer rle;
  rle.encode(image);
  EXPECT_TRUE(rle.isDegenerate());
  EXPECT_EQ(rle.offset(), image.offset());
  rle.encodePercent(kcPelBuffer<unsigned char>(7, 0), 10, 10, 3, 4, 1, false);
  EXPECT_TRUE(rle.isDegenerate());
}

TEST_F(RleEncode, Encode_wideConstantRow_splitsAt255) {
  kcPelBuffer<unsigned char> image(600, 1);
  for (int x = 0; x < 600; ++x) image.pointToRow(0)[x] = 9;
  kcRLEBuffer rle;
  rle.encode(image);
  const unsigned char* r = rle.pointToRow(0);
  EXPECT_EQ(std::vector<int>(r, r + 8), (std::vector<int>{9, 255, 9, 255, 9, 90, 0, 0}));
  EXPECT_EQ(rle.numRuns(), 3u);
  EXPECT_FALSE(rle.isBinary());
}

// ---- refusals: each leaves the target as it was ----

TEST_F(RleEncode, Encode_badArguments_throwAndKeepTarget) {
  kcPelBuffer<unsigned char> image(20, 3);
  imgref::fillRandom(image, rng, 256, 4);
  kcPelBuffer<unsigned char> unbound;
  kcRLEBuffer target;
  target.encode(image);
  target.offset(kcPair<long>(1, 2));
  const kcRLEBuffer before = target;
  const std::uint64_t notices = target.mutationCount();
  std::vector<unsigned char> shortMap(255), map(256);
  kcPelBuffer<unsigned char> otherSize(20, 4);

  std::vector<std::function<void()>> refused = {
      [&] { target.encode(unbound); },
      [&] { target.encode(unbound, 5, false); },
      [&] { target.encode(image, shortMap); },
      [&] { target.encode(image, std::vector<unsigned char>{}); },
      [&] { target.encode(image, shortMap, image, map); },
      [&] { target.encode(image, map, image, shortMap); },
      [&] { target.encode(image, map, otherSize, map); },
      [&] { target.encode(image, map, unbound, map); },
      [&] { target.encode(image, 1, 9, -1, false); },
      [&] { target.encode(image, 0, 255, 255, false); },
      [&] { target.encodePercent(image, -1, 0, 50, false); },
      [&] { target.encodePercent(image, 0, 101, 50, false); },
      [&] { target.encodePercent(image, 50, 51, 50, false); },
      [&] { target.encodePercent(image, 0, 0, 101, false); },
      [&] { target.encodePercent(image, 0, 0, -1, false); },
      [&] { target.encodePercent(image, 0, 0, 60, 59, 0, false); },
      [&] { target.encodePercent(image, 0, 0, 0, 101, 0, false); },
      [&] { target.encodePercent(image, 0, 0, 10, 20, 255, false); },
      [&] { target.encodePercent(unbound, 0, 0, 10, 20, 0, false); },
  };
  for (std::size_t i = 0; i < refused.size(); ++i) {
    EXPECT_THROW(refused[i](), kcBadArgument) << "case " << i;
    EXPECT_TRUE(target == before) << "case " << i;
    EXPECT_EQ(target.offset(), before.offset());
  }
  EXPECT_EQ(target.mutationCount(), notices);
}

}  // namespace
