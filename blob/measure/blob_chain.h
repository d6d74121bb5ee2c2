// The boundary trace of one region: the four-direction chain code of its outer outline along pel
// edges, with the counts the perimeter weights. Internal: used by the blob's boundary measures
// and their tests.
#pragma once

#include <blob/blob.h>

#include <foundation/geometry.h>

#include <cstdint>
#include <vector>

namespace kc_Chain {

// Touch: whether runs of neighbouring rows that meet only at a pel corner count as touching,
// along horizontal travel (h) and along vertical travel (v). Blobs of grey-scale scenes: both;
// their holes: neither; labelled regions (six-connected): v only.
struct Touch {
  bool h;
  bool v;
};

// Trace: a traced outline. code holds the steps followed by one keBlobDirectionEnd; start is the
// pel corner where the chain starts and ends (image coordinates: the upper-left corner of the
// region's first pel in raster order); the counts are the horizontal and vertical unit steps and
// the convex corners (right turns of the clockwise walk; left turns are not counted).
struct Trace {
  std::vector<keBlobDirection> code;
  kcPair<long> start{0, 0};
  std::int32_t horizontalSteps = 0;
  std::int32_t verticalSteps = 0;
  std::int32_t corners = 0;
};

// trace(rows, width, height, origin, touch): the outline of the region whose height rows lie one
// after another from rows (each a row of two-byte runs covering width pels, ended by (0, 0)),
// with its first pel at image position origin. Pels of value 0 are outside; adjacent non-zero
// runs form one interval. The region lies on the right of every step (clockwise on a screen whose
// y axis points down). Requires a region with at least one non-zero pel (internal assertion).
// Throws kcBadArgument when a count would not fit 32 bits. Cost: linear in the region's runs plus
// the chain's length; the chain grows from an estimate made from the runs (never the worst case).
Trace trace(const unsigned char* rows, std::int32_t width, std::int32_t height, const kcPair<long>& origin,
            Touch touch);

}  // namespace kc_Chain

// kc_Outline::of(blob, code): the chain and its start as blob.boundaryChainCode(code) gives them,
// without caching anything: the blob's cached chain when it has one, else traced afresh. For
// callers that visit every blob once (drawing, featurelets), so that they keep no outlines.
struct kc_Outline {
  static kcPair<long> of(const kcBlob& blob, std::vector<keBlobDirection>& code);
};
