// The featurelet C layer: featurelet set-up and the chain-set functions, which report failures as
// statuses and never let an exception out.
#include "chain_set_rep.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

// The allocating calls left before the injected failure; negative when none is armed.
thread_local int callsBeforeFailure = -1;

bool injectedFailure() {
  if (callsBeforeFailure < 0) return false;
  return callsBeforeFailure-- == 0;
}

// checkChains(...): the arguments of assignSet that can be checked without the arrays' lengths.
bool checkChains(int numChains, const kfeat_featurelet* featurelets, const int* closed, const int* firstIndices,
                 const int* counts) {
  if (numChains < 0) return false;
  if (numChains == 0) return true;
  if (closed == nullptr || firstIndices == nullptr || counts == nullptr) return false;
  for (int i = 0; i < numChains; ++i) {
    if (firstIndices[i] < 0 || counts[i] < 0) return false;
    if (counts[i] > 0 && featurelets == nullptr) return false;
  }
  return true;
}

}  // namespace

extern "C" {

int kfeat_featurelet_init(kfeat_featurelet* f) {
  if (f == nullptr) return kfeat_errBadArgument;
  *f = kfeat_featurelet{0.0, 0.0, 0, 0.0, 0.0, 1.0};
  return kfeat_ok;
}

int kfeat_featurelet_setAngle(kfeat_featurelet* f, double angle) {
  if (f == nullptr || !std::isfinite(angle)) return kfeat_errBadArgument;
  f->hasDirection = 1;
  f->angle = angle;
  return kfeat_ok;
}

int kfeat_featureletChainSet_new(kfeat_featureletChainSet** set) {
  if (set == nullptr) return kfeat_errBadArgument;
  if (injectedFailure()) return kfeat_errNoMemory;
  kfeat_featureletChainSet* made = new (std::nothrow) kfeat_featureletChainSet();
  if (made == nullptr) return kfeat_errNoMemory;
  *set = made;
  return kfeat_ok;
}

int kfeat_featureletChainSet_assignSet(kfeat_featureletChainSet* set, int numChains,
                                       const kfeat_featurelet* featurelets, const int* closed,
                                       const int* firstIndices, const int* counts) {
  if (set == nullptr || !checkChains(numChains, featurelets, closed, firstIndices, counts)) {
    return kfeat_errBadArgument;
  }
  if (injectedFailure()) return kfeat_errNoMemory;
  try {
    kfeat_featureletChainSet fresh;
    const auto n = static_cast<std::size_t>(numChains);
    std::size_t total = 0;
    for (std::size_t i = 0; i < n; ++i) total += static_cast<std::size_t>(counts[i]);
    fresh.featurelets.reserve(total);
    fresh.chains.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      fresh.chains.push_back({fresh.featurelets.size(), static_cast<std::size_t>(counts[i]), closed[i] != 0});
      if (counts[i] == 0) continue;  // featurelets may be null then
      const kfeat_featurelet* first = featurelets + firstIndices[i];
      fresh.featurelets.insert(fresh.featurelets.end(), first, first + counts[i]);
    }
    std::swap(*set, fresh);
  } catch (const std::bad_alloc&) {
    return kfeat_errNoMemory;
  } catch (const std::length_error&) {  // more than a vector can hold
    return kfeat_errNoMemory;
  }
  return kfeat_ok;
}

int kfeat_featureletChainSet_delete(kfeat_featureletChainSet* set) {
  delete set;
  return kfeat_ok;
}

void kfeat_failAllocation(int after) { callsBeforeFailure = after; }

}  // extern "C"
