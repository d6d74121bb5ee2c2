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

using Image = kcPelBuffer<unsigned char>;
using PelRule = std::function<int(unsigned char pel, std::size_t x, std::size_t y)>;
using Run = std::function<PelRule(kcRLEBuffer&, const Image&, std::mt19937&)>;

// checkRandom: on n seeded random images, run encodes into a fresh buffer and returns the rule
// giving each pel's expected value; the result must be that image, canonical, at the same place.
void checkRandom(int n, unsigned seed, const Run& run) {
  std::mt19937 rng(seed);
  for (int i = 0; i < n; ++i) {
    Image image = imgref::randomImage(rng);
    kcRLEBuffer rle;
    PelRule rule = run(rle, image, rng);
    Pels expected = imgref::pelsOf(image);
    for (std::size_t y = 0; y < expected.size(); ++y)
      for (std::size_t x = 0; x < expected[y].size(); ++x) expected[y][x] = static_cast<unsigned char>(rule(expected[y][x], x, y));
    ASSERT_EQ(rle.size(), kcPair<long>(image.width(), image.height()));
    ASSERT_EQ(rle.offset(), image.offset());
    ASSERT_EQ(imgref::layoutError(rle, true), "") << "image " << i;
    ASSERT_TRUE(imgref::pelsOf(rle) == expected) << "image " << i;
  }
}

int softRef(int p, int low, int high, int softness, bool invert) {
  int s = softness + 1;
  int v = low >= high ? (p >= high ? s : 0) : p <= low ? 0 : p >= high ? s
        : static_cast<int>(std::floor((p - low) * static_cast<double>(s) / (high - low) + 0.5));
  return invert ? s - v : v;
}

// The percentage mapping worked out from the sorted pels.
int percentRef(const Image& image, long lowTail, long hiTail, int percent) {
  std::vector<int> all;
  for (const auto& row : imgref::pelsOf(image)) all.insert(all.end(), row.begin(), row.end());
  std::sort(all.begin(), all.end());
  auto n = static_cast<long>(all.size());
  long lowCut = n * lowTail / 100, hiCut = n * hiTail / 100;
  int lo = all[static_cast<std::size_t>(std::min(lowCut, n - 1))];
  int hi = lowCut + hiCut >= n ? lo : all[static_cast<std::size_t>(n - 1 - hiCut)];
  return lo + static_cast<int>(std::floor(percent * (hi - lo) / 100.0 + 0.5));
}

unsigned char byte(std::mt19937& rng) { return static_cast<unsigned char>(rng() % 256); }

// ---- each encoder against the reference ----

// Without a map the pels are copied; a map applies every entry (entries past 255 are not used).
TEST(RleEncode, PlainAndMap_copyOrMapEveryPel) {
  checkRandom(150, 1, [](kcRLEBuffer& rle, const Image& image, std::mt19937& rng) -> PelRule {
    std::vector<unsigned char> map(rng() % 2 ? 256 + rng() % 30 : 0);
    for (auto& m : map) m = byte(rng);
    if (map.empty()) rle.encode(image);
    else rle.encode(image, map);
    return [=](unsigned char p, std::size_t, std::size_t) { return map.empty() ? p : map[p]; };
  });
}

TEST(RleEncode, HardThreshold_atOrAboveIsOne_invertSwaps) {
  checkRandom(200, 2, [](kcRLEBuffer& rle, const Image& image, std::mt19937& rng) -> PelRule {
    static const int kEdges[] = {0, 1, 255};
    int t = rng() % 2 ? kEdges[rng() % 3] : byte(rng);
    bool invert = rng() % 2;
    rle.encode(image, static_cast<unsigned char>(t), invert);
    return [=](unsigned char p, std::size_t, std::size_t) { return (p >= t) != invert; };
  });
}

TEST(RleEncode, SoftThreshold_rampRoundedHalfUp) {
  checkRandom(150, 4, [](kcRLEBuffer& rle, const Image& image, std::mt19937& rng) -> PelRule {
    int low = byte(rng), high = rng() % 4 ? byte(rng) : low;  // low >= high often: no division by 0
    int softness = rng() % 5 ? static_cast<int>(rng() % 20) : 254;
    bool invert = rng() % 2;
    rle.encode(image, static_cast<unsigned char>(low), static_cast<unsigned char>(high), softness, invert);
    return [=](unsigned char p, std::size_t, std::size_t) { return softRef(p, low, high, softness, invert); };
  });
}

TEST(RleEncode, ThreshImage_clampedDifferenceThroughMaps) {
  checkRandom(80, 5, [](kcRLEBuffer& rle, const Image& image, std::mt19937& rng) -> PelRule {
    Image thresh(image.width(), image.height());
    imgref::fillRandom(thresh, rng, 256, 1 + static_cast<unsigned>(rng() % 40));
    thresh.offset(kcPair<long>(3, -9));  // only the size has to match
    std::vector<unsigned char> pre(rng() % 2 ? 256 : 0), post(rng() % 2 ? 256 : 0);  // empty: identity
    for (auto& m : pre) m = byte(rng);
    for (auto& m : post) m = byte(rng);
    rle.encode(image, pre, thresh, post);
    return [=, q = imgref::pelsOf(thresh)](unsigned char p, std::size_t x, std::size_t y) {
      int d = std::clamp((pre.empty() ? p : pre[p]) - q[y][x], 0, 255);
      return post.empty() ? d : post[static_cast<std::size_t>(d)];
    };
  });
}

TEST(RleEncode, PercentForms_thresholdsFromSortedPels) {
  static const long kTails[][2] = {{0, 0}, {10, 5}, {50, 50}, {100, 0}, {0, 100}, {33, 33}};
  checkRandom(120, 6, [](kcRLEBuffer& rle, const Image& image, std::mt19937& rng) -> PelRule {
    const long* tails = kTails[rng() % 6];
    int a = static_cast<int>(rng() % 101), b = rng() % 4 ? static_cast<int>(rng() % 101) : a;
    bool invert = rng() % 2;
    if (rng() % 2) {
      int t = percentRef(image, tails[0], tails[1], a);
      rle.encodePercent(image, tails[0], tails[1], a, invert);
      return [=](unsigned char p, std::size_t, std::size_t) { return (p >= t) != invert; };
    }
    int low = percentRef(image, tails[0], tails[1], std::min(a, b)), high = percentRef(image, tails[0], tails[1], std::max(a, b));
    rle.encodePercent(image, tails[0], tails[1], std::min(a, b), std::max(a, b), 3, invert);
    return [=](unsigned char p, std::size_t, std::size_t) { return softRef(p, low, high, 3, invert); };
  });
}

// The result keeps the image's transform; an image without columns gives a degenerate result.
// Each refusal leaves the target as it was, without notice.
TEST(RleEncode, TransformKept_emptyImageDegenerate_badArgumentsKeepTarget) {
  Image image(20, 3), empty(0, 4), unbound, otherSize(20, 4);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>::scaling(2.0, 3.0), kcVector<2>(1.0, 0.0))));
  image.copyXforms(cache);
  kcRLEBuffer target;
  target.encodePercent(empty, 10, 10, 3, 4, 1, false);
  EXPECT_TRUE(target.isDegenerate());
  target.encode(image, 1, false);
  EXPECT_TRUE(target.xformCache().linearXform().xform() == cache.linearXform().xform());
  const kcRLEBuffer before = target;
  const std::uint64_t notices = target.mutationCount();
  std::vector<unsigned char> shortMap(255), map(256);
  const std::function<void()> refused[] = {
      [&] { target.encode(unbound); },
      [&] { target.encode(image, shortMap); }, [&] { target.encode(image, std::vector<unsigned char>{}); },
      [&] { target.encode(image, shortMap, image, map); },
      [&] { target.encode(image, map, otherSize, map); },
      [&] { target.encode(image, 1, 9, -1, false); }, [&] { target.encode(image, 0, 255, 255, false); },
      [&] { target.encodePercent(image, 50, 51, 50, false); },
      [&] { target.encodePercent(image, 0, 0, 101, false); },
      [&] { target.encodePercent(image, 0, 0, 60, 59, 0, false); },
  };
  for (const auto& call : refused) EXPECT_THROW(call(), kcBadArgument);
  EXPECT_TRUE(target == before && target.mutationCount() == notices);
}

}  // namespace
