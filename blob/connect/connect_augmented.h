// The connectivity engine's augmented view of a run-length image (rows read as maximal runs, each
// with the label the scan gives it) and the engine's reusable arrays, cached by the scene.
#pragma once

#include "connect/connect_regions.h"

#include <blob/blobdefs.h>
#include <foundation/geometry.h>
#include <foundation/handle.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class kcRLEBuffer;
struct kc_ConnectWorkspace;

// kf_ReadAugmentedRow(row, out): the two-byte runs of one row (value, length 1..255, ended by a
// run of length 0) as maximal runs: adjacent runs of equal value are joined, so within the row
// two consecutive runs never have one value. Each gets its columns and no label. out grows when
// needed (amortised) and keeps its capacity; returns the number of runs written. Values are
// compared exactly: runs of values 5 and 7 stay separate. Cost: the row's runs.
std::size_t kf_ReadAugmentedRow(const unsigned char* row, std::vector<kc_ScanRun>& out);

// kc_ConnectivityAugmentedRLE: what a scene keeps between connectivity runs for images of one
// geometry (height, binary flag, offset): the engine's workspace and the row makers of the scenes
// it analysed. The workspace passes on to the state made for the next geometry. The runs themselves are read from the image two rows at a time (kf_ReadAugmentedRow); no
// copy of the image is kept. The scene's data holds one through a counted handle; a copy of the
// scene shares it, and an engine run uses it only while no other scene does.
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

  // kc_ConnectivityAugmentedRLE(image): for images of image's height, binary flag and offset,
  // with an empty workspace. Precondition (internal assertion): image is not degenerate.
  explicit kc_ConnectivityAugmentedRLE(const kcRLEBuffer& image);
  // kc_ConnectivityAugmentedRLE(image, previous): the same, with previous's workspace, whose arrays
  // keep their capacity, so that a scene analysing images of changing geometry does not grow them
  // anew for each. previous is left without a workspace and must only be destroyed. Precondition
  // (internal assertion): no other scene holds previous.
  kc_ConnectivityAugmentedRLE(const kcRLEBuffer& image, kc_ConnectivityAugmentedRLE&& previous);
  ~kc_ConnectivityAugmentedRLE() override;
  kc_ConnectivityAugmentedRLE(const kc_ConnectivityAugmentedRLE&) = delete;
  kc_ConnectivityAugmentedRLE& operator=(const kc_ConnectivityAugmentedRLE&) = delete;

  // refill(image): takes image for the next run. Throws MismatchedImageSizes, changing nothing,
  // when image's height, binary flag or offset differ from the stored ones (the width does not
  // count).
  void refill(const kcRLEBuffer& image);
  // sameGeometry(image): whether refill(image) would be accepted.
  bool sameGeometry(const kcRLEBuffer& image) const;

  std::int32_t height() const { return height_; }
  bool isBinary() const { return isBinary_; }
  const kcPair<long>& offset() const { return offset_; }
  // workspace(): the engine's arrays and row makers; they keep their capacity.
  kc_ConnectWorkspace& workspace() { return *workspace_; }

 private:
  std::int32_t height_ = 0;
  bool isBinary_ = false;
  kcPair<long> offset_{0, 0};
  std::unique_ptr<kc_ConnectWorkspace> workspace_;
};
