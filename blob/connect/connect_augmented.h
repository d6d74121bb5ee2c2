// The connectivity engine's augmented run-length image (maximal runs, each with a label link)
// and its error.
#pragma once

#include <blob/blobdefs.h>
#include <foundation/geometry.h>
#include <foundation/handle.h>

#include <cstdint>
#include <memory>

class kcRLEBuffer;
struct kc_RegionLabel;

// kc_AugmentedRun: a maximal span of one pel value and the label the scan gave it.
// A row ends with a terminator run: value 0, length 0, link null.
struct kc_AugmentedRun {
  std::uint8_t value;
  std::uint32_t length;  // 1 up to the image width; 0 only in a terminator
  kc_RegionLabel* link;  // null until the scan assigns a label
};
static_assert(sizeof(kc_AugmentedRun) == 16, "an augmented run is sixteen bytes");

// kc_RunRowsView: the parts of a run-length image that filling reads. rows holds height pointers,
// each to a row of two-byte runs (value, length 1..255) ended by a run of length 0; numRuns counts
// the two-byte runs of all rows without terminators.
struct kc_RunRowsView {
  const unsigned char* const* rows;
  std::int32_t height;
  bool isBinary;
  kcPair<long> offset;
  std::uint64_t numRuns;
};

// kc_ConnectivityAugmentedRLE: a copy of a run-length image prepared for the scan. Adjacent runs
// of equal value are joined, so every run is a maximal span (within a row, two consecutive
// non-terminator runs never have one value), and every run carries a link the scan writes.
// The scene's data keeps one through a counted handle so that analysing images of one geometry
// (height, binary flag, offset) again refills it without allocating.
// Invariant after filling: capacity() >= runs + height of the image last filled in.
class kc_ConnectivityAugmentedRLE : public kcRepBase {
 public:
  // MismatchedImageSizes (0x10001a80): the run image handed in does not match the one this
  // object was built for. Carries no text. Registered (internally) and refused on archive
  // loading under "kc_ConnectivityAugmentedRLE::MismatchedImageSizes".
  class MismatchedImageSizes : public kc_BlobInternalDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a80;
    MismatchedImageSizes() = default;
    KC_CONCRETE_EXCEPTION(MismatchedImageSizes);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // kc_ConnectivityAugmentedRLE(image): takes image's height, binary flag and offset, allocates
  // room for numRuns() + height() runs and fills it. Precondition (internal assertion): image is
  // not degenerate. Throws kcBadArgument when that room exceeds 2^31 - 1 runs; std::bad_alloc
  // passes through. The view form is the same over rows the caller holds.
  explicit kc_ConnectivityAugmentedRLE(const kcRLEBuffer& image);
  explicit kc_ConnectivityAugmentedRLE(const kc_RunRowsView& view);
  ~kc_ConnectivityAugmentedRLE() override;
  kc_ConnectivityAugmentedRLE(const kc_ConnectivityAugmentedRLE&) = delete;
  kc_ConnectivityAugmentedRLE& operator=(const kc_ConnectivityAugmentedRLE&) = delete;

  // refill(image): fills from image in place. Throws MismatchedImageSizes, changing nothing, when
  // image's height, binary flag or offset differ from the stored ones. Grows the run storage when
  // the image has more runs than fit (never shrinks it); throws as the constructor does. Links
  // are reset to null.
  void refill(const kcRLEBuffer& image);
  void refill(const kc_RunRowsView& view);

  // sameGeometry(image): whether refill(image) would be accepted.
  bool sameGeometry(const kcRLEBuffer& image) const;
  bool sameGeometry(const kc_RunRowsView& view) const;

  // row(y): the first run of row y, 0 <= y < height() (internal assertion). Valid until the next
  // refill or the object's end.
  kc_AugmentedRun* row(std::int32_t y) const;

  std::int32_t height() const { return height_; }
  bool isBinary() const { return isBinary_; }
  const kcPair<long>& offset() const { return offset_; }
  std::int32_t capacity() const { return capacity_; }
  // storage(): the run storage, for tests that check it is reused.
  const kc_AugmentedRun* storage() const { return runs_.get(); }

  // viewOf(image): the view filling reads from image. Precondition: image is not degenerate.
  static kc_RunRowsView viewOf(const kcRLEBuffer& image);

 private:
  static std::int32_t roomFor(const kc_RunRowsView& view);
  void fill(const kc_RunRowsView& view);

  std::unique_ptr<kc_AugmentedRun*[]> rows_;  // height + 1 entries, the last null
  std::int32_t height_ = 0;
  bool isBinary_ = false;
  kcPair<long> offset_{0, 0};
  std::int32_t capacity_ = 0;
  std::unique_ptr<kc_AugmentedRun[]> runs_;
};
