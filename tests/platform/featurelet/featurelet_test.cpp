// The featurelet stand-in: the C chain-set functions with their refusals and the injected
// allocation failure, the chain set's ownership and mapping, and the cleanup registry.
#include <featurelet/chain_set.h>
#include <featurelet/cleanup.h>
#include <featurelet/featurelet.h>

#include <foundation/exception.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace {

using Set = kcFeatureletChainSet;
using Chains = std::vector<std::vector<double>>;

kfeat_featurelet at(double x, double y) { return kfeat_featurelet{x, y, 0, 0.0, 0.0, 1.0}; }

const std::vector<kfeat_featurelet> kFive = {at(0, 0), at(1, 0), at(2, 0), at(3, 0), at(4, 0)};

// owned(closed, first, counts, points): a chain set that took a new C set whose chain i is the
// counts[i] points from first[i].
kcPtrHandle<Set> owned(std::vector<int> closed, std::vector<int> first, std::vector<int> counts,
                       const kfeat_featurelet* points = kFive.data()) {
  kfeat_featureletChainSet* c = nullptr;
  EXPECT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, static_cast<int>(counts.size()), points, closed.data(),
                                               first.data(), counts.data()), kfeat_ok);
  kcPtrHandle<Set> set(new Set());
  set->takeFeatureletChainSet(&c);
  EXPECT_EQ(c, nullptr) << "the set took the C set";
  return set;
}

// xs(set): the x of every featurelet, chain by chain.
Chains xs(const Set& set) {
  Chains chains(static_cast<std::size_t>(set.numChains()));
  for (std::size_t i = 0; i < chains.size(); ++i)
    for (const kfeat_featurelet& f : set.chain(static_cast<long>(i))) chains[i].push_back(f.x);
  return chains;
}

// Chains are copies of their ranges, in any order; refused arguments and an injected allocation
// failure leave the chains as they were; the class takes the C set once and clears the caller's
// pointer.
TEST(FeatureletChainSet_assign, FeatureletChainSet_chainsCopied_badArgumentsOrFailedAllocationRefused) {
  std::vector<kfeat_featurelet> points = kFive;
  const kcPtrHandle<Set> set = owned({2, 0, 1, 0}, {3, 0, 1, 4}, {2, 3, 0, 1}, points.data());
  points[0].x = 99;  // the set holds copies
  EXPECT_EQ(xs(*set), (Chains{{3, 4}, {0, 1, 2}, {}, {4}}));
  EXPECT_TRUE(set->isClosed(0) && !set->isClosed(1) && set->isClosed(2) && !set->isClosed(3));
  EXPECT_THROW(set->isClosed(4), kcBadArgument);
  kfeat_featureletChainSet* c = nullptr;
  kfeat_failAllocation(0);
  EXPECT_EQ(kfeat_featureletChainSet_new(&c), kfeat_errNoMemory);
  ASSERT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);  // later calls succeed again
  const int one = 1, zero = 0, two = 2, minus = -1;
  const kfeat_featurelet* p = kFive.data();
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(c, 1, p + 1, &one, &zero, &one), kfeat_ok);
  const int refused[] = {
      kfeat_featureletChainSet_assignSet(nullptr, 1, p, &one, &zero, &one),  // null set
      kfeat_featureletChainSet_assignSet(c, -1, p, &one, &zero, &one),       // negative number of chains
      kfeat_featureletChainSet_assignSet(c, 1, p, nullptr, &zero, &one),     // null closed flags
      kfeat_featureletChainSet_assignSet(c, 1, p, &one, &minus, &one),       // negative first index
      kfeat_featureletChainSet_assignSet(c, 1, p, &one, &zero, &minus),      // negative count
      kfeat_featureletChainSet_assignSet(c, 1, nullptr, &one, &zero, &one)};  // null featurelets with a count
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], kfeat_errBadArgument) << "case " << i;
  kfeat_failAllocation(0);
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, 1, p, &one, &zero, &two), kfeat_errNoMemory);
  Set taker;
  EXPECT_THROW(taker.takeFeatureletChainSet(nullptr), kcBadPointer);
  kfeat_featureletChainSet* again = c;
  taker.takeFeatureletChainSet(&c);
  taker.takeFeatureletChainSet(&again);  // the set it holds: kept, not freed (the sanitizer sees a double free)
  EXPECT_TRUE(c == nullptr && again == nullptr);
  EXPECT_EQ(xs(taker), Chains{{1}});
}

// Positions are mapped and directions turned by the matrix, including one that does not keep
// angles or mirrors; a direction mapped to nothing is dropped. The map has no transform of its own.
TEST(FeatureletChainSet_map, FeatureletChainSet_map_positionsMappedDirectionsTurnedByTheMatrix) {
  std::vector<kfeat_featurelet> points = {at(1, 0), at(2, 0), at(0, 1)};
  kfeat_featurelet_setAngle(&points[0], 0.0);
  kfeat_featurelet_setAngle(&points[2], kfPi / 4);
  points[1].weight = 0.25;
  const kcPtrHandle<Set> set = owned({1}, {0}, {3}, points.data());
  set->imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(new kc2XformLinear()), true);
  for (const auto& [matrix, angle0, angle2] : {std::tuple{kcMatrix<2>::scaling(2, 1), 0.0, std::atan2(1.0, 2.0)},
                                              {kcMatrix<2>::scaling(-1, 1), kfPi, 3 * kfPi / 4},  // mirrored
                                              {kcMatrix<2>(0, 0, 0, 1), 0.0, kfPi / 2}}) {       // x crushed
    SCOPED_TRACE(angle0);
    const kcXform<2> xform(matrix, kcVector<2>(10, 20));
    const kcPtrHandle<Set> m = set->map(kc2XformLinear(xform));
    ASSERT_TRUE(m->numChains() == 1 && m->chain(0).size() == 3 && m->isClosed(0));
    EXPECT_EQ(m->imageFromClientXformBase(), nullptr);
    const auto out = m->chain(0);
    for (std::size_t i = 0; i < 3; ++i)
      EXPECT_NEAR((kcVector<2>(out[i].x, out[i].y) - xform.mapPoint(kcVector<2>(points[i].x, points[i].y))).length(), 0, 1e-12);
    EXPECT_EQ(out[0].hasDirection, static_cast<int>(matrix.element(0, 0) != 0));
    EXPECT_NEAR(std::abs(out[0].angle - angle0) + std::abs(out[2].angle - angle2), 0, 1e-12);
    EXPECT_TRUE(out[1].hasDirection == 0 && out[1].weight == 0.25);
  }
}

std::vector<int> freed;  // the values freeInt freed, in order

int freeInt(int* p) {
  freed.push_back(*p);
  delete p;
  return 0;
}

// An exception frees what is still registered, last first; a full registry refuses to add.
TEST(Featurelet_cleanup, Featurelet_cleanup_freesLastFirst_fullRefuses) {
  freed.clear();
  int *a = nullptr, *b = nullptr, *gone = nullptr;
  EXPECT_THROW(
      {
        kcCleanupRegistry cleanup;
        cleanup.add(&freeInt, &a);  // registered before the object exists
        a = new int(1);
        cleanup.add(&freeInt, &b);
        b = new int(2);
        cleanup.add(&freeInt, &gone);  // its new owner took it: null again
        throw std::runtime_error("passes");
      },
      std::runtime_error);
  EXPECT_EQ(freed, (std::vector<int>{2, 1}));
  EXPECT_TRUE(a == nullptr && b == nullptr);
  std::vector<int*> variables(kcCleanupRegistry::kCapacity, nullptr);  // outlive the registry
  kcCleanupRegistry cleanup;
  for (int*& v : variables) cleanup.add(&freeInt, &v);
  EXPECT_THROW(cleanup.add(&freeInt, &a), kcBadArgument);
}

}  // namespace
