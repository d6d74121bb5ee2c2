// Tests of run-length images: validation of adopted rows, equality and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "archive_bytes.h"

#include <gtest/gtest.h>

namespace {

using archive_bytes::Bytes;
using Rows = std::vector<const unsigned char*>;

kcRLEBuffer encoded(const kcPelBuffer_const<unsigned char>& image) {
  kcRLEBuffer rle;
  rle.encode(image);
  return rle;
}

TEST(RleBuffer, BecomeOwner_malformedRows_refusedUnchanged) {
  const Bytes cases[] = {
      {4, 3, 0, 0},        // lengths short of the width
      {4, 3, 4, 2, 0, 0},  // lengths past the width
      {4, 2, 4, 2},        // no terminator inside the chunk
      {4, 4, 0},           // odd byte at the end
      {4, 4, 3, 0},        // terminator with a value
  };
  kcRLEBuffer rle = encoded(kcPelBuffer<unsigned char>(2, 2));
  const kcRLEBuffer before = rle;
  for (const Bytes& bytes : cases) {
    Bytes chunk = bytes;
    EXPECT_THROW(rle.becomeOwner(4, Rows{chunk.data()}, chunk), kcBadArgument) << chunk.size();
    EXPECT_EQ(chunk, bytes);
  }
  Bytes chunk = {1, 2, 0, 0}, elsewhere = {1, 2, 0, 0};
  EXPECT_THROW(rle.becomeOwner(2, Rows{chunk.data(), elsewhere.data()}, chunk), kcBadArgument);
  EXPECT_THROW(rle.becomeOwner(-1, Rows{chunk.data()}, chunk), kcBadArgument);
  // A row may not run on from its chunk into another one.
  std::vector<Bytes> split = {Bytes{1, 1}, Bytes{1, 1, 0, 0}};
  EXPECT_THROW(rle.becomeOwner(2, Rows{split[0].data()}, split, true), kcBadArgument);
  EXPECT_EQ(split.size(), 2u);
  EXPECT_TRUE(rle == before);
}

// Rows that do not fill the width, or fewer rows than the height (round trips, truncations and
// newer versions: the archive corpus test).
TEST(RleArchive, DamagedRows_throwAndKeepTarget) {
  kcPelBuffer<unsigned char> image(300, 2);
  image.pointToRow(1)[299] = 4;
  const Bytes good = archive_bytes::storedValue(encoded(image));  // rows (0,255)(0,45)(0,0) and (0,255)(0,44)(4,1)(0,0)
  // Stored: version, base version, bound, width, height, byte count (4 bytes each), then runs.
  constexpr std::size_t kRuns = 15;
  const std::pair<std::size_t, unsigned char> patches[] = {
      {kRuns + 3, 46},  // first row one pel too long
      {kRuns + 5, 9},   // first terminator lost
      {kRuns - 4, static_cast<unsigned char>(good[kRuns - 4] - 2)},  // last row cut short
      {7, 3}};          // height 3, two rows stored
  kcRLEBuffer target = encoded(kcPelBuffer<unsigned char>(2, 2));
  const kcRLEBuffer before = target;
  for (const auto& [at, value] : patches) {
    Bytes bytes = good;
    bytes[at] = value;
    kcArchive in(bytes.data(), bytes.size());
    EXPECT_THROW(in || target, kcArchive::Damaged) << at;
    EXPECT_TRUE(target == before);
  }
}

}  // namespace
