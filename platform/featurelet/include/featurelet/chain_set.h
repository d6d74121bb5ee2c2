// The featurelet chain set as a counted object: it owns a C chain set, lets its chains be read,
// maps them through a transform and carries the imageFromClient transform of its coordinates.
#pragma once

#include <featurelet/featurelet.h>

#include <foundation/handle.h>
#include <foundation/xform.h>

#include <span>

// kcFeatureletChainSet: chains of featurelets, held through kcPtrHandle<kcFeatureletChainSet>.
// A new set has no chains and no imageFromClient transform. Not copyable: map() makes new sets.
class kcFeatureletChainSet : public kcRepBase {
 public:
  kcFeatureletChainSet() = default;
  ~kcFeatureletChainSet() override;
  kcFeatureletChainSet(const kcFeatureletChainSet&) = delete;
  kcFeatureletChainSet& operator=(const kcFeatureletChainSet&) = delete;

  // numChains(): the number of chains.
  long numChains() const;
  // chain(i): the featurelets of chain i in order. isClosed(i): whether its last featurelet joins
  // its first. Both throw kcBadArgument unless 0 <= i < numChains(). The span is valid until the
  // set takes another C set or dies.
  std::span<const kfeat_featurelet> chain(long i) const;
  bool isClosed(long i) const;

  // takeFeatureletChainSet(set): takes ownership of *set (null: no chains), frees the C set held
  // before and sets *set to null, so the caller has nothing left to free. Throws kcBadPointer,
  // changing nothing, when set is null.
  void takeFeatureletChainSet(kfeat_featureletChainSet** set);

  // map(xform): a new set with the same chains mapped through xform: each position p becomes
  // xform.mapPoint(p); each direction is turned by the linear part of xform.linearize(p) and given
  // in [0, 2 pi); a direction that part maps to the zero vector is dropped (hasDirection 0, angle
  // 0). Every other field is copied. The new set has no imageFromClient transform. Throws what
  // xform throws for a point outside its domain (kcBadArgument); this set is never changed.
  // Cost: one mapping and one linearisation per featurelet.
  kcPtrHandle<kcFeatureletChainSet> map(const kc2XformBase& xform) const;

  // imageFromClientXformBase(): the transform from the set's coordinates to image coordinates;
  // null when none was set. Valid until it is set again.
  const kcPtrHandle_const<kc2XformBase>& imageFromClientXformBase() const { return imageFromClient_; }
  // imageFromClientXformBase(h, share): sets it; share true holds h's object itself (the caller
  // must not change it afterwards), false a private clone. Throws kcBadPointer, changing nothing,
  // when h is null.
  void imageFromClientXformBase(const kcPtrHandle_const<kc2XformBase>& h, bool share);

 private:
  kfeat_featureletChainSet* set_ = nullptr;  // owned; null: no chains
  kcPtrHandle_const<kc2XformBase> imageFromClient_;
};
