// The engine's records: pools, region creation and release, merge, close with its cleanup,
// and the invariant check.
#include "connect/connect_engine.h"

#include <foundation/assert.h>
#include <foundation/attention.h>

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kPoolCount = 256;

}  // namespace

kc_ConnectEngine::kc_ConnectEngine(kc_ConnectivityAugmentedRLE& image, Column width, bool labelled,
                                   kc_CleanupKind cleanup, PelCount minPels)
    : image_(image),
      width_(width),
      labelled_(labelled),
      cleanup_(cleanup),
      minPels_(cleanup == kc_CleanupKind::eNone ? 0 : minPels),
      labelPool_(sizeof(kc_RegionLabel), kPoolCount),
      regionPool_(sizeof(kc_ConnectRegion), kPoolCount),
      nodePool_(sizeof(kc_NeighbourNode), kPoolCount) {
  KC_ASSERT(image.height() >= 1 && width >= 1, "the image to connect has at least one pel");
}

// Records, labels and neighbour nodes are trivially destructible and live in the pools, which
// release them as a whole here, also when the run was abandoned half-way.
kc_ConnectEngine::~kc_ConnectEngine() = default;

void kc_ConnectEngine::attentionCheck() { kcAttention::check(); }

kc_ConnectRegion* kc_ConnectEngine::newRegion(std::uint8_t value, Column x, RowIndex y, PelCount n) {
  auto* label = static_cast<kc_RegionLabel*>(labelPool_.alloc());
  void* storage;
  try {
    storage = regionPool_.alloc();
  } catch (...) {
    labelPool_.free(label);
    throw;
  }
  auto* r = static_cast<kc_ConnectRegion*>(storage);
  *r = kc_ConnectRegion{};
  *label = kc_RegionLabel{nullptr, nullptr, r, 0};
  r->firstLabel = r->lastLabel = r->rootLabel = label;
  r->labelCount = 1;
  r->serial = ++serial_;
  r->pelCount = n;
  r->xMin = x;
  r->xEnd = static_cast<Column>(x + static_cast<Column>(n));
  r->yMin = y;
  r->yMax = y;
  r->value = value;
  r->nextRegion = regionList_;
  if (regionList_ != nullptr) regionList_->prevRegion = r;
  regionList_ = r;
  ++regionCount_;
  return r;
}

// newOutside(): the region that stands for everything beyond the image border (labelled fill).
kc_ConnectRegion* kc_ConnectEngine::newOutside() {
  kc_ConnectRegion* r = newRegion(0, 0, 0, 0);
  r->xMin = std::numeric_limits<Column>::max();
  r->xEnd = 0;
  r->yMin = std::numeric_limits<RowIndex>::max();
  r->yMax = 0;
  return r;
}

// releaseRegion(r): takes r off the region list and returns its record. Its labels stay in their
// pool: runs still point at them, and they resolve to whatever now stands for r's pels.
void kc_ConnectEngine::releaseRegion(kc_ConnectRegion* r) {
  if (r->prevRegion != nullptr) r->prevRegion->nextRegion = r->nextRegion;
  else regionList_ = r->nextRegion;
  if (r->nextRegion != nullptr) r->nextRegion->prevRegion = r->prevRegion;
  --regionCount_;
  regionPool_.free(r);
}

// mergeRegions(A, B): A is absorbed, B survives (the caller picks B: the region of the run
// above, or the region a cleanup keeps). A's labels join B's set and follow B's chain; A's
// neighbours and children pass to B; the extents and pel counts add up; A is released.
void kc_ConnectEngine::mergeRegions(kc_ConnectRegion* a, kc_ConnectRegion* b) {
  KC_ASSERT(a != b, "a region is merged into another region");
  KC_ASSERT(a->parent == nullptr, "a closed region is never absorbed");
  kc_RegionLabel* ra = a->rootLabel;
  kc_RegionLabel* rb = b->rootLabel;
  if (a->labelCount > b->labelCount) {
    rb->up = ra;
    ra->region = b;
    b->rootLabel = ra;
  } else {
    ra->up = rb;
  }
  b->labelCount += a->labelCount;
  b->lastLabel->nextLabel = a->firstLabel;
  b->lastLabel = a->lastLabel;

  if (a->neighbours.head != nullptr || b->neighbours.head != nullptr) moveNeighbours(a, b);

  // The children keep a label of A as their parent, which now resolves to B.
  if (a->firstChild != nullptr) {
    if (b->lastChild != nullptr) b->lastChild->nextSibling = a->firstChild;
    else b->firstChild = a->firstChild;
    b->lastChild = a->lastChild;
  }

  b->xMin = std::min(b->xMin, a->xMin);
  b->xEnd = std::max(b->xEnd, a->xEnd);
  b->yMin = std::min(b->yMin, a->yMin);
  b->yMax = std::max(b->yMax, a->yMax);
  b->pelCount += a->pelCount;
  releaseRegion(a);
}

// adoptChild(P, R): R goes to the front of P's child list.
void kc_ConnectEngine::adoptChild(kc_ConnectRegion* parent, kc_ConnectRegion* child) {
  child->parent = parent->firstLabel;
  child->nextSibling = parent->firstChild;
  parent->firstChild = child;
  if (parent->lastChild == nullptr) parent->lastChild = child;
}

// closeRegion(R, P): R is enclosed for good by P. It becomes P's child unless the cleanup
// removes it: a small childless region is pruned, a small region is filled.
void kc_ConnectEngine::closeRegion(kc_ConnectRegion* r, kc_ConnectRegion* p) {
  KC_ASSERT(r != nullptr && p != nullptr && r != p, "a pending region is enclosed by another");
  KC_ASSERT(r->parent == nullptr, "a region is enclosed once");
  const bool keep = cleanup_ == kc_CleanupKind::eNone || !isSmall(r) ||
                    (cleanup_ == kc_CleanupKind::ePrune && r->firstChild != nullptr);
  if (keep) adoptChild(p, r);
  else if (cleanup_ == kc_CleanupKind::ePrune) pruneRegion(r);
  else fillRegion(r, p);
}

// pruneRegion(R): R's pels belong to no region any more. Its label set stops resolving to a
// region (the finishing pass skips such runs), and R leaves every neighbour list.
void kc_ConnectEngine::pruneRegion(kc_ConnectRegion* r) {
  r->rootLabel->region = nullptr;
  if (r->neighbours.head != nullptr) detachNeighbours(r);
  releaseRegion(r);
}

// fillRegion(R, P): R's children are merged into P (their children become P's), R's labels are
// marked filled and R is merged into P.
void kc_ConnectEngine::fillRegion(kc_ConnectRegion* r, kc_ConnectRegion* p) {
  for (kc_ConnectRegion* c = r->firstChild; c != nullptr;) {
    kc_ConnectRegion* next = c->nextSibling;
    c->nextSibling = nullptr;
    c->parent = nullptr;
    mergeRegions(c, p);
    c = next;
  }
  r->firstChild = r->lastChild = nullptr;
  for (kc_RegionLabel* l = r->firstLabel; l != nullptr; l = l->nextLabel) l->filled = 1;
  mergeRegions(r, p);
}

void kc_ConnectEngine::scan() {
  KC_ASSERT(!scanned_, "a connectivity run scans once");
  scanned_ = true;
  if (labelled_) {
    if (cleanup_ == kc_CleanupKind::eFill) outside_ = newOutside();
    scanLabelledFirstRow();
  } else {
    scanGreyFirstRow();
  }
  rowsScanned_ = 1;
  if (rowHook_) rowHook_(0);
  for (RowIndex y = 1; y < image_.height(); ++y) {
    if (y % 16 == 15) attentionCheck();
    if (labelled_) scanLabelledRow(y);
    else scanGreyRow(y);
    rowsScanned_ = y + 1;
    if (rowHook_) rowHook_(y);
  }
#ifndef NDEBUG
  checkInvariants();
#endif
}
