// The featurelet stand-in: the C featurelet and chain-set functions with their refusals and the
// injected allocation failure, the chain set's ownership and mapping, statuses turned into
// exceptions, and the cleanup registry.
#include <featurelet/chain_set.h>
#include <featurelet/cleanup.h>
#include <featurelet/featurelet.h>

#include <foundation/exception.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using Set = kcFeatureletChainSet;
using Chains = std::vector<std::vector<double>>;

kfeat_featurelet at(double x, double y) { return kfeat_featurelet{x, y, 0, 0.0, 0.0, 1.0}; }

const std::vector<kfeat_featurelet> kFive = {at(0, 0), at(1, 0), at(2, 0), at(3, 0), at(4, 0)};

// cSet(closed, first, counts, points): a new C set whose chain i is the counts[i] points from
// first[i].
kfeat_featureletChainSet* cSet(std::vector<int> closed, std::vector<int> first, std::vector<int> counts,
                               const kfeat_featurelet* points = kFive.data()) {
  kfeat_featureletChainSet* c = nullptr;
  EXPECT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, static_cast<int>(counts.size()), points, closed.data(),
                                               first.data(), counts.data()),
            kfeat_ok);
  return c;
}

// owned(c): a new chain set that took c.
kcPtrHandle<Set> owned(kfeat_featureletChainSet* c) {
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

// ---- the featurelet ----

TEST(Featurelet_record, Featurelet_initThenSetAngle_onlyTheDirectionChangesBadValuesRefused) {
  kfeat_featurelet f;
  ASSERT_EQ(kfeat_featurelet_init(&f), kfeat_ok);
  EXPECT_TRUE(f.x == 0 && f.y == 0 && f.hasDirection == 0 && f.angle == 0 && f.magnitude == 0 && f.weight == 1);
  f.x = 3;
  ASSERT_EQ(kfeat_featurelet_setAngle(&f, -7.5), kfeat_ok);
  EXPECT_TRUE(f.hasDirection == 1 && f.angle == -7.5 && f.x == 3 && f.weight == 1);  // kept as given
  for (const double bad : {NAN, INFINITY, -INFINITY})
    EXPECT_EQ(kfeat_featurelet_setAngle(&f, bad), kfeat_errBadArgument) << bad;
  EXPECT_EQ(f.angle, -7.5);
  EXPECT_EQ(kfeat_featurelet_init(nullptr), kfeat_errBadArgument);
  EXPECT_EQ(kfeat_featurelet_setAngle(nullptr, 0), kfeat_errBadArgument);
}

// ---- the C chain set ----

TEST(FeatureletChainSet_assign, FeatureletChainSet_chainsCopiedFromTheirRanges_inAnyOrderReplacingTheOldOnes) {
  std::vector<kfeat_featurelet> points = kFive;
  const kcPtrHandle<Set> set = owned(cSet({2, 0, 1, 0}, {3, 0, 1, 4}, {2, 3, 0, 1}, points.data()));
  points[0].x = 99;  // the set holds copies
  EXPECT_EQ(xs(*set), (Chains{{3, 4}, {0, 1, 2}, {}, {4}}));
  EXPECT_TRUE(set->isClosed(0) && !set->isClosed(1) && set->isClosed(2) && !set->isClosed(3));
  // A second assignment replaces every chain; no chains at all needs no arrays.
  kfeat_featureletChainSet* c = cSet({1}, {0}, {1});
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(c, 0, nullptr, nullptr, nullptr, nullptr), kfeat_ok);
  set->takeFeatureletChainSet(&c);
  EXPECT_EQ(set->numChains(), 0);
}

// Refused arguments and an injected allocation failure leave the chains as they were.
TEST(FeatureletChainSet_assign, FeatureletChainSet_badArgumentsOrFailedAllocation_refusedLeavingTheChains) {
  kfeat_featureletChainSet* c = nullptr;
  kfeat_failAllocation(0);
  EXPECT_EQ(kfeat_featureletChainSet_new(&c), kfeat_errNoMemory);
  EXPECT_EQ(c, nullptr);
  kfeat_failAllocation(2);  // new and the first assignment succeed, the second fails
  c = cSet({1}, {1}, {1});
  const int one = 1, zero = 0, two = 2, minus = -1;
  const kfeat_featurelet* p = kFive.data();
  const int refused[] = {
      kfeat_featureletChainSet_assignSet(nullptr, 1, p, &one, &zero, &one),  // null set
      kfeat_featureletChainSet_assignSet(c, -1, p, &one, &zero, &one),       // negative number of chains
      kfeat_featureletChainSet_assignSet(c, 1, p, nullptr, &zero, &one),     // null closed flags
      kfeat_featureletChainSet_assignSet(c, 1, p, &one, &minus, &one),       // negative first index
      kfeat_featureletChainSet_assignSet(c, 1, p, &one, &zero, &minus),      // negative count
      kfeat_featureletChainSet_assignSet(c, 1, nullptr, &one, &zero, &one),  // null featurelets with a count
      kfeat_featureletChainSet_new(nullptr)};
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], kfeat_errBadArgument) << "case " << i;
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, 1, p, &one, &zero, &two), kfeat_errNoMemory);
  EXPECT_EQ(xs(*owned(c)), Chains{{1}});
  kfeat_failAllocation(0);
  kfeat_failAllocation(-1);  // disarmed before it fired
  EXPECT_EQ(xs(*owned(cSet({1}, {0}, {0}, nullptr))), Chains{{}});  // no featurelets read
  EXPECT_EQ(kfeat_featureletChainSet_delete(nullptr), kfeat_ok);
}

// ---- the chain set class ----

TEST(FeatureletChainSet_take, FeatureletChainSet_take_ownershipMovesAndTheCallersPointerIsCleared) {
  Set set;
  EXPECT_THROW(set.takeFeatureletChainSet(nullptr), kcBadPointer);
  kfeat_featureletChainSet* first = cSet({1}, {0}, {1});
  kfeat_featureletChainSet* again = first;
  set.takeFeatureletChainSet(&first);
  set.takeFeatureletChainSet(&again);  // the set it holds: kept, not freed
  EXPECT_TRUE(first == nullptr && again == nullptr);
  EXPECT_EQ(xs(set), Chains{{0}});
  kfeat_featureletChainSet* none = nullptr;
  set.takeFeatureletChainSet(&none);  // frees the one held (the sanitizer build sees a leak otherwise)
  EXPECT_EQ(set.numChains(), 0);
  for (const long bad : {-1L, 0L}) {
    EXPECT_THROW(set.chain(bad), kcBadArgument);
    EXPECT_THROW(set.isClosed(bad), kcBadArgument);
  }
}

// Positions are mapped and directions turned by the matrix, including one that does not keep
// angles or mirrors; a direction mapped to nothing is dropped. (Rotations and a point off the
// domain show in the conversion of scenes.)
TEST(FeatureletChainSet_map, FeatureletChainSet_map_positionsMappedDirectionsTurnedByTheMatrix) {
  std::vector<kfeat_featurelet> points = {at(1, 0), at(2, 0), at(0, 1)};
  kfeat_featurelet_setAngle(&points[0], 0.0);
  kfeat_featurelet_setAngle(&points[2], kfPi / 4);
  points[1].magnitude = 5;
  points[1].weight = 0.25;
  const kcPtrHandle<Set> set = owned(cSet({1}, {0}, {3}, points.data()));
  set->imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(new kc2XformLinear()), true);
  struct Case {
    kcMatrix<2> matrix;
    double angle0, angle2;  // the directions of the first and last point after mapping
  };
  for (const Case& k : {Case{kcMatrix<2>::scaling(2, 1), 0, std::atan2(1.0, 2.0)},
                        Case{kcMatrix<2>::scaling(-1, 1), kfPi, 3 * kfPi / 4},  // mirrored
                        Case{kcMatrix<2>(0, 0, 0, 1), 0, kfPi / 2}}) {        // x crushed
    SCOPED_TRACE(k.angle0);
    const kcXform<2> xform(k.matrix, kcVector<2>(10, 20));
    const kcPtrHandle<Set> m = set->map(kc2XformLinear(xform));
    ASSERT_TRUE(m->numChains() == 1 && m->chain(0).size() == 3);
    EXPECT_TRUE(m->isClosed(0) && m->imageFromClientXformBase() == nullptr);  // a new set has no transform
    const auto out = m->chain(0);
    for (std::size_t i = 0; i < 3; ++i) {
      const kcVector<2> want = xform.mapPoint(kcVector<2>(points[i].x, points[i].y));
      EXPECT_NEAR(out[i].x, want.x(), 1e-12);
      EXPECT_NEAR(out[i].y, want.y(), 1e-12);
    }
    EXPECT_EQ(out[0].hasDirection, static_cast<int>(k.matrix.element(0, 0) != 0));
    EXPECT_NEAR(out[0].angle, k.angle0, 1e-12);
    EXPECT_NEAR(out[2].angle, k.angle2, 1e-12);
    EXPECT_TRUE(out[1].hasDirection == 0 && out[1].angle == 0 && out[1].magnitude == 5 && out[1].weight == 0.25);
  }
  EXPECT_TRUE(set->chain(0)[0].x == 1 && set->chain(0)[0].angle == 0);  // the source unchanged
  EXPECT_EQ(Set().map(kc2XformLinear())->numChains(), 0);  // a new set has no chains, nor has its map
}

TEST(FeatureletChainSet_imageFromClient, FeatureletChainSet_sharedOrCloned_nullRefused) {
  Set set;
  const kcPtrHandle_const<kc2XformBase> shift(new kc2XformLinear(kcXform<2>(kcMatrix<2>(), kcVector<2>(3, 4))));
  set.imageFromClientXformBase(shift, true);
  EXPECT_EQ(set.imageFromClientXformBase(), shift);
  set.imageFromClientXformBase(shift, false);
  EXPECT_FALSE(set.imageFromClientXformBase() == shift);
  EXPECT_THROW(set.imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer);
  EXPECT_EQ(set.imageFromClientXformBase()->mapPoint(kcVector<2>(1, 1)), kcVector<2>(4, 5));  // the clone, kept
}

// ---- statuses and the cleanup registry ----

TEST(Featurelet_status, Featurelet_status_negativeStatusesThrowTheirClass) {
  EXPECT_NO_THROW(kfThrowExceptionOnFailure(kfeat_ok));
  EXPECT_NO_THROW(kfThrowExceptionOnFailure(3));
  EXPECT_THROW(kfThrowExceptionOnFailure(kfeat_errBadArgument), kcBadArgument);
  EXPECT_THROW(kfThrowExceptionOnFailure(kfeat_errNoMemory), std::bad_alloc);
  try {
    kfThrowExceptionOnFailure(-7);
    ADD_FAILURE() << "not thrown";
  } catch (const kcUnknownError& e) {
    EXPECT_EQ(e.code(), -7);
  }
}

std::vector<int> freed;  // the values freeInt freed, in order

int freeInt(int* p) {
  freed.push_back(*p);
  delete p;
  return 0;
}

TEST(Featurelet_cleanup, Featurelet_exceptionFreesWhatIsStillRegistered_lastFirstOnce) {
  freed.clear();
  int *a = nullptr, *b = nullptr, *handedOver = nullptr;
  EXPECT_THROW(
      {
        kcCleanupRegistry cleanup;
        cleanup.add(&freeInt, &a);  // registered before the object exists
        a = new int(1);
        cleanup.add(&freeInt, &b);
        b = new int(2);
        cleanup.add(&freeInt, &handedOver);
        handedOver = new int(3);
        delete std::exchange(handedOver, nullptr);  // its new owner took it
        throw std::runtime_error("passes");
      },
      std::runtime_error);
  EXPECT_EQ(freed, (std::vector<int>{2, 1}));
  EXPECT_TRUE(a == nullptr && b == nullptr);
}

TEST(Featurelet_cleanup, Featurelet_runAndReleaseAreExplicit_andAddRefusesWithoutRegistering) {
  freed.clear();
  int* a = new int(1);
  int* kept = new int(2);
  std::vector<int*> variables(kcCleanupRegistry::kCapacity + 1, nullptr);  // outlive the registry
  {
    kcCleanupRegistry cleanup;
    cleanup.add(&freeInt, &a);
    cleanup.run();
    EXPECT_EQ(a, nullptr);
    cleanup.add(&freeInt, &kept);
    cleanup.release();
    EXPECT_EQ(cleanup.size(), 0u);
    EXPECT_THROW(cleanup.add<int>(nullptr, &a), kcBadPointer);
    EXPECT_THROW(cleanup.add<int>(&freeInt, nullptr), kcBadPointer);
    for (std::size_t i = 0; i + 1 < variables.size(); ++i) cleanup.add(&freeInt, &variables[i]);
    EXPECT_THROW(cleanup.add(&freeInt, &variables.back()), kcBadArgument);
    EXPECT_EQ(cleanup.size(), kcCleanupRegistry::kCapacity);
  }
  EXPECT_EQ(freed, (std::vector<int>{1}));  // run once; released and null entries free nothing
  delete kept;
}

}  // namespace
