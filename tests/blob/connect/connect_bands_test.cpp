// Grey-scale connectivity in bands against the one-thread engine: every entry field, the top
// level and the retired count on random images split into many thin bands, with and without the
// prune.
#include "connect/connect_bands.h"
#include "parallel/work_pool.h"
#include "platform/foundation/image_reference.h"

#include <foundation/attention.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

namespace {

using Pels = kcPelBuffer<unsigned char>;

void fillRect(Pels& p, long x0, long y0, long x1, long y1, unsigned char v) {
  for (long y = std::max(0L, y0); y <= std::min(y1, p.height() - 1); ++y)
    for (long x = std::max(0L, x0); x <= std::min(x1, p.width() - 1); ++x) p.pointToRow(y)[x] = v;
}

// drawParts(p, rng, values): solid objects with holes, objects in the holes, and bars and frames as
// tall as the image (a region in every band, holes across every seam).
void drawParts(Pels& p, std::mt19937& rng, unsigned values) {
  const auto below = [&rng](long n) {
    return n <= 0 ? 0L : static_cast<long>(rng() % static_cast<unsigned long>(n));
  };
  const auto value = [&] { return static_cast<unsigned char>(1 + below(static_cast<long>(values) - 1)); };
  fillRect(p, 0, 0, p.width() - 1, p.height() - 1, 0);
  for (long k = 1 + below(30); k > 0; --k) {
    const long w = 1 + below(p.width()), h = 1 + below(p.height());
    const long x = below(p.width()), y = below(p.height());
    fillRect(p, x, y, x + w, y + h, value());
    if (w > 2 && h > 2)  // a hole
      fillRect(p, x + 1 + below(w / 2), y + 1 + below(h / 2), x + w - 1 - below(w / 2), y + h - 1 - below(h / 2), 0);
    if (w > 6 && h > 6) fillRect(p, x + w / 2 - 1, y + h / 2 - 1, x + w / 2, y + h / 2, value());
  }
  if (rng() % 2) {  // a frame round everything, an open bar down the middle
    const unsigned char v = value();
    fillRect(p, 0, 0, p.width() - 1, 0, v);
    fillRect(p, 0, p.height() - 1, p.width() - 1, p.height() - 1, v);
    fillRect(p, 0, 0, 0, p.height() - 1, v);
    fillRect(p, p.width() - 1, 0, p.width() - 1, p.height() - 1, v);
    fillRect(p, p.width() / 2, 0, p.width() / 2, p.height() - 2, value());
  }
}

kcRLEBuffer randomImage(std::mt19937& rng) {
  const auto below = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
  const long w = rng() % 4 == 0 ? 1 + below(3) : 1 + below(600);
  const long h = rng() % 4 == 0 ? 1 + below(8) : 1 + below(200);
  const unsigned values = rng() % 3 == 0 ? 256 : 2 + below(5);  // 2: binary
  Pels pels(w, h);
  switch (below(3)) {
    case 0: imgref::fillRandom(pels, rng, values, 1); break;                // noise
    case 1: imgref::fillRandom(pels, rng, values, 1 + below(700)); break;  // long runs
    default: drawParts(pels, rng, values); break;
  }
  pels.offset(kcPair<long>(static_cast<long>(below(2001)) - 1000, static_cast<long>(below(2001)) - 1000));
  kcRLEBuffer rle;
  rle.encode(pels);
  return rle;
}

// firstDifference(a, b): the first entry field that differs, or empty.
std::string firstDifference(const kc_BlobStore& a, const kc_BlobStore& b) {
  std::ostringstream s;
  if (a.entries.size() != b.entries.size()) s << "blobs " << a.entries.size() << " vs " << b.entries.size();
  if (a.origin != b.origin) s << "origin";
  for (std::size_t i = 0; s.str().empty() && i < a.entries.size(); ++i) {
    const kc_BlobEntry& x = a.entries[i];
    const kc_BlobEntry& y = b.entries[i];
    const auto field = [&](const char* name, auto u, auto v) {
      if (s.str().empty() && u != v) s << "blob " << i + 1 << " " << name << " " << u << " vs " << v;
    };
    field("sumX", x.sumX, y.sumX);
    field("sumY", x.sumY, y.sumY);
    field("left", x.left, y.left);
    field("top", x.top, y.top);
    field("width", x.width, y.width);
    field("height", x.height, y.height);
    field("parent", x.parent, y.parent);
    field("nextSibling", x.nextSibling, y.nextSibling);
    field("firstChild", x.firstChild, y.firstChild);
    field("pelCount", x.pelCount, y.pelCount);
    field("key", x.key, y.key);
    field("label", int{x.label}, int{y.label});
    field("flags", int{x.flags}, int{y.flags});
  }
  return s.str();
}

TEST(ConnectBands, randomImages_thinBands_matchOneThread) {
  const kc_BandMinimum small(1, 1);
  std::mt19937 rng(20261207);
  kc_ConnectWorkspace ws, bandWs;  // reused from image to image, as a scene reuses its own
  kc_BlobStore one, banded;
  std::vector<BlobId> oneTop, bandTop;
  for (int i = 0; i < 600; ++i) {
    const kcRLEBuffer image = randomImage(rng);
    const unsigned threads = 2 + static_cast<unsigned>(rng() % 7);
    const auto cleanup = rng() % 2 == 0 ? kc_CleanupKind::eNone : kc_CleanupKind::ePrune;
    const PelCount minPels = rng() % 60;
    SCOPED_TRACE(::testing::Message() << "image " << i << " " << image.width() << "x" << image.height()
                                      << " threads " << threads << " cleanup " << static_cast<int>(cleanup)
                                      << " min " << minPels);
    kc_ConnectEngine engine(image, ws, one, false, cleanup, minPels);
    engine.scan();
    engine.finish(oneTop);
    const std::size_t retired = kf_ConnectInBands(image, bandWs, banded, bandTop, threads, cleanup, minPels);
    EXPECT_EQ(firstDifference(one, banded), "");
    EXPECT_EQ(oneTop, bandTop);
    EXPECT_EQ(engine.retired(), retired);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(ConnectBands, abandonedOnCallingThread_stopsAndThrows) {
  const kc_BandMinimum small(1, 1);
  std::mt19937 rng(7);
  Pels pels(1000, 1000);  // long enough for the calling thread to check whatever task it takes
  imgref::fillRandom(pels, rng, 2, 1);
  kcRLEBuffer image;
  image.encode(pels);
  kc_ConnectWorkspace ws;
  kc_BlobStore out;
  std::vector<BlobId> top;
  kcAttention::Scope scope;
  scope.abandonAfter(2);
  EXPECT_THROW(kf_ConnectInBands(image, ws, out, top, 2), kcAttention::Abandoned);
}

}  // namespace
