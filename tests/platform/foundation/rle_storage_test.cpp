// Tests of the run storage that encoders reuse: the same images as without it, reuse of released
// runs without allocating, held images left alone, abandoned encodings, and the per-object setting.
#include <foundation/archive.h>
#include <foundation/attention.h>
#include <foundation/rlebuffer.h>

#include "allocation_count.h"
#include "archive_bytes.h"
#include "attention_checks.h"
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

// sameRuns(a, b): equal images with equal counts and the same run bytes, row by row.
::testing::AssertionResult sameRuns(const kcRLEBuffer& a, const kcRLEBuffer& b) {
  if (!(a == b) || a.numRuns() != b.numRuns() || a.isBinary() != b.isBinary())
    return ::testing::AssertionFailure() << "pels, numRuns or isBinary differ";
  for (long y = 0; y < a.height(); ++y) {
    const unsigned char* p = a.pointToRow(y);
    const unsigned char* q = b.pointToRow(y);
    for (std::size_t i = 0;; i += 2) {
      if (p[i] != q[i] || p[i + 1] != q[i + 1]) return ::testing::AssertionFailure() << "row " << y << " byte " << i;
      if (p[i + 1] == 0) break;
    }
  }
  return ::testing::AssertionSuccess();
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
    ASSERT_TRUE(sameRuns(pooled, plain)) << form.name << ", image " << i;
    held.emplace_back(pooled, plain);
    for (std::size_t keep = rng() % 6; held.size() > keep;) held.pop_front();
    for (const auto& [mine, twin] : held) ASSERT_TRUE(sameRuns(mine, twin)) << "held after image " << i;
  }
}

// A released image's runs serve the next encoding of its size (through another copy of the
// handle) without a heap block; an image re-encoded in place settles on two runs and allocates
// nothing from its third encoding on; runs a copy still holds are left alone.
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
    EXPECT_TRUE(sameRuns(second, plain));
    form.encode(second, image, other);
    EXPECT_EQ(blocksAllocatedBy([&] { form.encode(second, image, other); }), 0u);
    EXPECT_TRUE(sameRuns(second, plain));
    const kcRLEBuffer held = second;
    form.encode(second, other, image);
    EXPECT_NE(second.pointToRat()[0], held.pointToRat()[0]);
    EXPECT_TRUE(sameRuns(held, plain));
  }
}

// An encoding abandoned at its last check, while refilling runs the target released, leaves the
// target as it was; the next encoding refills the same runs correctly.
TEST(RleStorage, AbandonedEncoding_keepsTarget_storageServesTheNext) {
  std::mt19937 rng(24);
  const Image a = randomImage(130, 48, rng, 4), b = randomImage(130, 48, rng, 30), other = randomImage(130, 48, rng, 7);
  kcRLEStorage storage;
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.name);
    kcRLEBuffer target, expectA, expectB;
    target.storage(storage);
    form.encode(target, b, other);
    form.encode(target, a, other);  // the runs of b are free again
    form.encode(expectA, a, other);
    form.encode(expectB, b, other);
    const unsigned char* row = target.pointToRat()[0];
    const std::uint64_t notices = target.mutationCount();
    const unsigned long checks = attention_checks::checksMadeBy([&] { kcRLEBuffer probe; form.encode(probe, b, other); });
    ASSERT_GE(checks, 1u);
    {
      kcAttention::Scope scope;
      scope.abandonAfter(checks - 1);
      EXPECT_THROW(form.encode(target, b, other), kcAttention::Abandoned);
    }
    EXPECT_EQ(target.pointToRat()[0], row);
    EXPECT_EQ(target.mutationCount(), notices);
    EXPECT_TRUE(sameRuns(target, expectA));
    form.encode(target, b, other);
    EXPECT_TRUE(sameRuns(target, expectB));
  }
}

// The setting stays with the object: a copy starts without one, assignment and loading keep the
// target's, move construction takes the source's; handles compare equal when they share a pool.
TEST(RleStorage, Setting_belongsToTheObject_notCopiedAssignedOrLoaded) {
  std::mt19937 rng(25);
  const Image image = randomImage(40, 3, rng, 5);
  kcRLEStorage mine, theirs;
  EXPECT_FALSE(mine == theirs);
  EXPECT_TRUE(kcRLEStorage(mine) == mine);
  EXPECT_TRUE(kcRLEBuffer().storage().isNone());
  kcRLEBuffer source, target;
  source.storage(theirs);
  source.encode(image);
  target.storage(mine);
  EXPECT_TRUE(kcRLEBuffer(source).storage().isNone());
  target = source;
  EXPECT_TRUE(target.storage() == mine);
  target = kcRLEBuffer(source);
  EXPECT_TRUE(target.storage() == mine);
  target.setUnbound();
  archive_bytes::Bytes bytes = archive_bytes::stored(source);
  kcArchive in(bytes, kcArchive::eLoading);
  in || target;
  EXPECT_TRUE(target == source);
  EXPECT_TRUE(target.storage() == mine);
  kcRLEBuffer moved(std::move(target));
  EXPECT_TRUE(moved.storage() == mine);
  moved.storage(kcRLEStorage::none());
  EXPECT_TRUE(moved.storage().isNone());
}

}  // namespace
