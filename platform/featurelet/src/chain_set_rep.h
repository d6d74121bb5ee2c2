// The storage behind the opaque C chain set, shared by the C functions and kcFeatureletChainSet.
#pragma once

#include <featurelet/featurelet.h>

#include <cstddef>
#include <vector>

// Every chain's featurelets lie in one array, chain after chain.
struct kfeat_featureletChainSet {
  struct Chain {
    std::size_t first = 0;  // index of the chain's first featurelet in featurelets
    std::size_t count = 0;
    bool closed = false;
  };
  std::vector<kfeat_featurelet> featurelets;
  std::vector<Chain> chains;
};
