// The chain set class: ownership of the C set, reading its chains, mapping them and the
// imageFromClient transform.
#include <featurelet/chain_set.h>

#include "chain_set_rep.h"

#include <foundation/exception.h>
#include <foundation/geometry.h>

#include <cmath>
#include <memory>
#include <utility>

namespace {

[[noreturn]] void throwBadChain() {
  throw kcBadArgument(L"There is no chain with this index in the featurelet chain set.");
}

// mapped(f, xform): f with its position mapped and its direction turned by the local linear part.
kfeat_featurelet mapped(const kfeat_featurelet& f, const kc2XformBase& xform) {
  const kcVector<2> p(f.x, f.y);
  kfeat_featurelet out = f;
  const kcVector<2> q = xform.mapPoint(p);
  out.x = q.x();
  out.y = q.y();
  if (f.hasDirection != 0) {
    const kcVector<2> d = xform.linearize(p).mapVector(kcVector<2>(std::cos(f.angle), std::sin(f.angle)));
    const bool lost = d.x() == 0.0 && d.y() == 0.0;
    out.hasDirection = lost ? 0 : 1;
    out.angle = lost ? 0.0 : d.angle().norm().toDouble();
  }
  return out;
}

}  // namespace

kcFeatureletChainSet::~kcFeatureletChainSet() { kfeat_featureletChainSet_delete(set_); }

long kcFeatureletChainSet::numChains() const { return set_ ? static_cast<long>(set_->chains.size()) : 0; }

std::span<const kfeat_featurelet> kcFeatureletChainSet::chain(long i) const {
  if (i < 0 || i >= numChains()) throwBadChain();
  const kfeat_featureletChainSet::Chain& c = set_->chains[static_cast<std::size_t>(i)];
  return std::span<const kfeat_featurelet>(set_->featurelets).subspan(c.first, c.count);
}

bool kcFeatureletChainSet::isClosed(long i) const {
  if (i < 0 || i >= numChains()) throwBadChain();
  return set_->chains[static_cast<std::size_t>(i)].closed;
}

void kcFeatureletChainSet::takeFeatureletChainSet(kfeat_featureletChainSet** set) {
  if (set == nullptr) throw kcBadPointer(L"takeFeatureletChainSet needs the address of a chain-set pointer.");
  kfeat_featureletChainSet* taken = std::exchange(*set, nullptr);
  if (taken == set_) return;  // already ours
  kfeat_featureletChainSet_delete(std::exchange(set_, taken));
}

kcPtrHandle<kcFeatureletChainSet> kcFeatureletChainSet::map(const kc2XformBase& xform) const {
  kcPtrHandle<kcFeatureletChainSet> result(new kcFeatureletChainSet());
  if (set_ == nullptr) return result;
  auto rep = std::make_unique<kfeat_featureletChainSet>(*set_);
  for (kfeat_featurelet& f : rep->featurelets) f = mapped(f, xform);
  result->set_ = rep.release();
  return result;
}

void kcFeatureletChainSet::imageFromClientXformBase(const kcPtrHandle_const<kc2XformBase>& h, bool share) {
  if (!h) throw kcBadPointer(L"The imageFromClient transform of a featurelet chain set cannot be null.");
  imageFromClient_ = share ? h : kcPtrHandle_const<kc2XformBase>(h->clone());
}
