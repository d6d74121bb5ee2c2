// The geometry the cached engine state accepts. (The augmented rows themselves, equal runs joined
// into maximal spans, are read by every scan of the cross-check.)
#include "connect/connect_augmented.h"

#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

namespace {

kcRLEBuffer image(long width, long height, kcPair<long> offset, unsigned char value) {
  kc_RLERowWriter writer(width, height);
  for (long y = 0; y < height; ++y) {
    writer.put(value, static_cast<std::uint32_t>(width));
    writer.endRow();
  }
  return writer.finish(offset, kc2XformCache());
}

}  // namespace

TEST(ConnectAugmented, ConnectAugmented_refillOtherGeometry_throwsAndKeepsState) {
  kc_ConnectivityAugmentedRLE aug(image(4, 1, {3, 4}, 1));
  kc_ConnectWorkspace* workspace = &aug.workspace();
  for (const kcRLEBuffer& other : {image(4, 1, {4, 4}, 1),    // offset one pel off
                                   image(4, 2, {3, 4}, 1),    // another height
                                   image(4, 1, {3, 4}, 2)}) {  // not binary
    EXPECT_FALSE(aug.sameGeometry(other));
    EXPECT_THROW(aug.refill(other), kc_ConnectivityAugmentedRLE::MismatchedImageSizes);
  }
  EXPECT_TRUE(aug.sameGeometry(image(9, 1, {3, 4}, 0)));  // the width does not count
  aug.refill(image(9, 1, {3, 4}, 0));
  EXPECT_EQ(&aug.workspace(), workspace);
}
