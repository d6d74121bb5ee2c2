// Tests of the run storage that encoders reuse: the same images as without it, reuse of released
// runs without allocating, and held images left alone.
#include <foundation/rlebuffer.h>

#include "allocation_count.h"
#include "image_reference.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

using allocation_count::blocksAllocatedBy;
using Image = kcPelBuffer<unsigned char>;

std::vector<unsigned char> table(unsigned divisor, bool reverse) {
  std::vector<unsigned char> t(256);
  for (unsigned v = 0; v < 256; ++v) t[v] = static_cast<unsigned char>((reverse ? 255 - v : v) / divisor);
  return t;
}
const std::vector<unsigned char> kMap = table(40, false), kPreMap = table(1, true), kPostMap = table(64, false);

// The seven encoder forms; `other` is an image of the same size, the threshold image of one form.
struct Form {
  const char* name;
  void (*encode)(kcRLEBuffer& rle, const Image& image, const Image& other);
};
const Form kForms[] = {
    {"plain", [](kcRLEBuffer& rle, const Image& image, const Image&) { rle.encode(image); }},
    {"map", [](kcRLEBuffer& rle, const Image& image, const Image&) { rle.encode(image, kMap); }},
    {"threshImage", [](kcRLEBuffer& rle, const Image& image, const Image& other) { rle.encode(image, kPreMap, other, kPostMap); }},
    {"hard", [](kcRLEBuffer& rle, const Image& image, const Image&) { rle.encode(image, 128, true); }},
    {"soft", [](kcRLEBuffer& rle, const Image& image, const Image&) { rle.encode(image, 40, 200, 6, false); }},
    {"hardPercent", [](kcRLEBuffer& rle, const Image& image, const Image&) { rle.encodePercent(image, 5, 5, 50, false); }},
    {"softPercent", [](kcRLEBuffer& rle, const Image& image, const Image&) { rle.encodePercent(image, 10, 0, 20, 80, 3, true); }},
};

// runs(rle): the counts, then every row's run bytes with its terminator: equal for images stored alike.
std::vector<unsigned> runs(const kcRLEBuffer& rle) {
  std::vector<unsigned> out{static_cast<unsigned>(rle.numRuns()), rle.isBinary()};
  for (long y = 0; y < rle.height(); ++y)
    for (const unsigned char* r = rle.pointToRow(y);; r += 2) {
      out.insert(out.end(), {r[0], r[1]});
      if (r[1] == 0) break;
    }
  return out;
}

Image randomImage(long w, long h, std::mt19937& rng, unsigned maxSpan) {
  Image image(w, h);
  imgref::fillRandom(image, rng, 256, maxSpan);
  return image;
}


// One storage serves image after image of every size and form while 0 to 5 earlier results are
// held, so encodings refill free runs, add runs, and run past the pool's bound. First a tall image
// whose runs outgrow the storage many times, then one row of spans longer than 255 pels.
TEST(RleStorage, EveryEncoder_sameRunsAsWithout_whileEarlierImagesAreHeld) {
  std::mt19937 rng(21);
  kcRLEStorage storage;
  kcRLEBuffer pooled;
  pooled.storage(storage);
  std::deque<std::pair<kcRLEBuffer, kcRLEBuffer>> held;  // (with storage, without)
  for (int i = 0; i < 84; ++i) {
    const Image image = i < 7 ? randomImage(700, 300, rng, 3) : i < 14 ? randomImage(1000, 1, rng, 700) : imgref::randomImage(rng);
    const Image other = randomImage(image.width(), image.height(), rng, 1 + static_cast<unsigned>(rng() % 40));
    const Form& form = kForms[i % 7];
    kcRLEBuffer plain;
    form.encode(plain, image, other);
    form.encode(pooled, image, other);
    ASSERT_EQ(runs(pooled), runs(plain)) << form.name << ", image " << i;
    held.emplace_back(pooled, plain);
    for (std::size_t keep = rng() % 6; held.size() > keep;) held.pop_front();
    for (const auto& [mine, twin] : held) ASSERT_EQ(runs(mine), runs(twin)) << "held after image " << i;
  }
}

// A released image's runs serve the next encoding of its size (through another copy of the
// handle) without a heap block; an image re-encoded in place settles on two runs and allocates
// nothing from its third encoding on. (Held copies left alone: the test above.)
TEST(RleStorage, ReleasedImage_nextEncodingReusesItsRuns_allocatesNothing) {
  std::mt19937 rng(22);
  const Image image = randomImage(300, 50, rng, 9), other = randomImage(300, 50, rng, 5);
  kcRLEStorage storage;
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.name);
    kcRLEBuffer first;
    first.storage(storage);
    form.encode(first, image, other);
    const unsigned char* firstRow = first.pointToRat()[0];
    first = kcRLEBuffer();
    kcRLEBuffer second, plain;
    second.storage(kcRLEStorage(storage));
    EXPECT_EQ(blocksAllocatedBy([&] { form.encode(second, image, other); }), 0u);
    EXPECT_EQ(second.pointToRat()[0], firstRow);
    form.encode(plain, image, other);
    EXPECT_EQ(runs(second), runs(plain));
    form.encode(second, image, other);
    EXPECT_EQ(blocksAllocatedBy([&] { form.encode(second, image, other); }), 0u);
    EXPECT_EQ(runs(second), runs(plain));
  }
}

}  // namespace
