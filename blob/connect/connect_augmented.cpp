// kc_ConnectivityAugmentedRLE: construction, refilling and the joining of equal runs.
#include "connect/connect_augmented.h"

#include <foundation/assert.h>
#include <foundation/attention.h>
#include <foundation/rlebuffer.h>

#include <limits>

kc_RunRowsView kc_ConnectivityAugmentedRLE::viewOf(const kcRLEBuffer& image) {
  KC_ASSERT(!image.isDegenerate(), "the image to augment has rows");
  return kc_RunRowsView{image.pointToRat(), static_cast<std::int32_t>(image.height()),
                        image.isBinary(), image.offset(), image.numRuns()};
}

kc_ConnectivityAugmentedRLE::kc_ConnectivityAugmentedRLE(const kcRLEBuffer& image)
    : kc_ConnectivityAugmentedRLE(viewOf(image)) {}

kc_ConnectivityAugmentedRLE::kc_ConnectivityAugmentedRLE(const kc_RunRowsView& view)
    : height_(view.height), isBinary_(view.isBinary), offset_(view.offset) {
  KC_ASSERT(view.height >= 1 && view.rows != nullptr, "the image to augment has rows");
  const std::int32_t room = roomFor(view);
  rows_ = std::make_unique<kc_AugmentedRun*[]>(static_cast<std::size_t>(height_) + 1);
  runs_ = std::make_unique<kc_AugmentedRun[]>(static_cast<std::size_t>(room));
  capacity_ = room;
  fill(view);
}

kc_ConnectivityAugmentedRLE::~kc_ConnectivityAugmentedRLE() = default;

bool kc_ConnectivityAugmentedRLE::sameGeometry(const kcRLEBuffer& image) const {
  return !image.isDegenerate() && image.height() == height_ && image.isBinary() == isBinary_ &&
         image.offset() == offset_;
}

bool kc_ConnectivityAugmentedRLE::sameGeometry(const kc_RunRowsView& view) const {
  return view.height == height_ && view.isBinary == isBinary_ && view.offset == offset_;
}

void kc_ConnectivityAugmentedRLE::refill(const kcRLEBuffer& image) {
  if (!sameGeometry(image)) throw MismatchedImageSizes();
  refill(viewOf(image));
}

void kc_ConnectivityAugmentedRLE::refill(const kc_RunRowsView& view) {
  if (!sameGeometry(view)) throw MismatchedImageSizes();
  const std::int32_t room = roomFor(view);
  if (room > capacity_) {
    runs_ = std::make_unique<kc_AugmentedRun[]>(static_cast<std::size_t>(room));
    capacity_ = room;
  }
  fill(view);
}

kc_AugmentedRun* kc_ConnectivityAugmentedRLE::row(std::int32_t y) const {
  KC_ASSERT(y >= 0 && y < height_, "an augmented row index lies inside the image");
  return rows_[static_cast<std::size_t>(y)];
}

std::int32_t kc_ConnectivityAugmentedRLE::roomFor(const kc_RunRowsView& view) {
  const std::uint64_t room = view.numRuns + static_cast<std::uint64_t>(view.height);
  if (room > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
    throw kcBadArgument(L"The run-length image has too many runs for connectivity analysis.");
  return static_cast<std::int32_t>(room);
}

// fill(view): copies every row, joining a source run onto the row's last run when the values
// agree, and ends each row with a terminator. Writes never pass capacity: a row yields at most
// its source runs plus the terminator, and the room counted exactly those.
void kc_ConnectivityAugmentedRLE::fill(const kc_RunRowsView& view) {
  kc_AugmentedRun* out = runs_.get();
  const kc_AugmentedRun* const end = out + capacity_;
  for (std::int32_t y = 0; y < height_; ++y) {
    if ((y & 15) == 15) kcAttention::check();
    rows_[static_cast<std::size_t>(y)] = out;
    const kc_AugmentedRun* const rowStart = out;
    for (const unsigned char* src = view.rows[y]; src[1] != 0; src += 2) {
      if (out != rowStart && out[-1].value == src[0]) {
        out[-1].length += src[1];
      } else {
        KC_ASSERT(out != end, "the augmented runs fit the counted room");
        *out++ = kc_AugmentedRun{src[0], src[1], nullptr};
      }
    }
    KC_ASSERT(out != end, "the augmented runs fit the counted room");
    *out++ = kc_AugmentedRun{0, 0, nullptr};
  }
  rows_[static_cast<std::size_t>(height_)] = nullptr;
}
