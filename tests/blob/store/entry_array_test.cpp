// The chunked entry array: entries across the chunk boundary, references that stay, reuse without
// allocating, growth for overwriting, release of what a smaller analysis does not need, and deep
// copies.
#include "store/entry_array.h"

#include "platform/foundation/allocation_count.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t kChunk = kc_EntryArray::kChunk;

void fillIds(kc_EntryArray& a, std::size_t n) {
  for (std::size_t i = a.size(); i < n; ++i) a.emplace_back().key = static_cast<std::uint32_t>(i);
}

bool holdsIds(const kc_EntryArray& a) {
  std::size_t i = 0;
  for (const kc_BlobEntry& e : a)
    if (e.key != i++) return false;
  return i == a.size();
}

TEST(EntryArray, pastTwoChunks_keepsEntriesInPlaceReusesAndReleases) {
  kc_EntryArray a;
  fillIds(a, kChunk);
  const kc_BlobEntry* inFull = &a[kChunk - 1];
  fillIds(a, 2 * kChunk + 5);
  EXPECT_EQ(&a[kChunk - 1], inFull) << "a full first chunk and the others never move";
  EXPECT_TRUE(holdsIds(a) && a[2 * kChunk + 4].key == 2 * kChunk + 4);
  EXPECT_GE(a.capacity(), 3 * kChunk);

  a.resize(kChunk + 1);
  EXPECT_EQ(a[kChunk].key, kChunk);
  const std::size_t capacity = a.capacity();
  EXPECT_EQ(allocation_count::blocksAllocatedBy([&] { a.clear(), fillIds(a, 2 * kChunk + 5); }), 0u);
  EXPECT_TRUE(a[kChunk].pelCount == -1 && holdsIds(a)) << "regrown entries are value-initialised";
  a[kChunk - 1].pelCount = 5;
  a.resize(kChunk - 1);  // back within the first chunk: the next entry takes the freed place
  a.emplace_back();
  EXPECT_EQ(a[kChunk - 1].pelCount, -1);

  a.resize(10);
  a.resizeForOverwrite(kChunk + 7);  // what it leaves unwritten lies past the first chunk
  EXPECT_TRUE(a.size() == kChunk + 7 && a[9].key == 9 && a[kChunk - 1].pelCount == -1);
  for (std::size_t i = 10; i < a.size(); ++i) a[i].key = static_cast<std::uint32_t>(i);
  EXPECT_TRUE(holdsIds(a));
  a.resize(10);
  a.fit(kChunk + 3);  // keeps what that many need: the first chunk and one more
  EXPECT_EQ(a.capacity(), 2 * kChunk);
  EXPECT_LT(a.capacity(), capacity);
  a.fit(0);
  EXPECT_LT(a.capacity(), kChunk);
  EXPECT_TRUE(a.size() == 10 && holdsIds(a));
}

TEST(EntryArray, copiesAndSwaps_areDeep) {
  kc_EntryArray a, b;
  fillIds(a, kChunk + 7);
  kc_EntryArray c(a);
  c[kChunk + 1].key = 99;
  EXPECT_EQ(a[kChunk + 1].key, kChunk + 1);
  b = c;
  b.swap(a);
  EXPECT_TRUE(holdsIds(b) && a[kChunk + 1].key == 99 && a.size() == kChunk + 7);
}

}  // namespace
