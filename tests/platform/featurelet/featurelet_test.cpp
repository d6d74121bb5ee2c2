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
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using Set = kcFeatureletChainSet;

kfeat_featurelet at(double x, double y) {
  kfeat_featurelet f;
  kfeat_featurelet_init(&f);
  f.x = x;
  f.y = y;
  return f;
}

kfeat_featurelet directed(double x, double y, double angle) {
  kfeat_featurelet f = at(x, y);
  kfeat_featurelet_setAngle(&f, angle);
  return f;
}

// Chains of at most three points: chain i holds the points at x = first .. first + count - 1.
struct Layout {
  std::vector<int> closed, first, counts;
};

// filled(layout, points): a C set of layout's chains over points, handed to a new chain set.
kcPtrHandle<Set> filled(const Layout& layout, const std::vector<kfeat_featurelet>& points) {
  kfeat_featureletChainSet* c = nullptr;
  EXPECT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, static_cast<int>(layout.counts.size()), points.data(),
                                               layout.closed.data(), layout.first.data(), layout.counts.data()),
            kfeat_ok);
  kcPtrHandle<Set> set(new Set());
  set->takeFeatureletChainSet(&c);
  EXPECT_EQ(c, nullptr) << "the set took the C set";
  return set;
}

std::vector<double> xsOf(const Set& set, long chain) {
  std::vector<double> xs;
  for (const kfeat_featurelet& f : set.chain(chain)) xs.push_back(f.x);
  return xs;
}

const std::vector<kfeat_featurelet> kFive = {at(0, 0), at(1, 0), at(2, 0), at(3, 0), at(4, 0)};

// ---- the featurelet ----

TEST(Featurelet_record, initThenSetAngle_onlyTheDirectionChanges_badValuesRefused) {
  kfeat_featurelet f;
  ASSERT_EQ(kfeat_featurelet_init(&f), kfeat_ok);
  EXPECT_TRUE(f.x == 0 && f.y == 0 && f.hasDirection == 0 && f.angle == 0 && f.magnitude == 0 && f.weight == 1);
  f.x = 3;
  ASSERT_EQ(kfeat_featurelet_setAngle(&f, -7.5), kfeat_ok);
  EXPECT_TRUE(f.hasDirection == 1 && f.angle == -7.5 && f.x == 3 && f.weight == 1);  // kept as given
  for (const double bad : {NAN, INFINITY, -INFINITY}) {
    EXPECT_EQ(kfeat_featurelet_setAngle(&f, bad), kfeat_errBadArgument);
    EXPECT_EQ(f.angle, -7.5);
  }
  EXPECT_EQ(kfeat_featurelet_init(nullptr), kfeat_errBadArgument);
  EXPECT_EQ(kfeat_featurelet_setAngle(nullptr, 0), kfeat_errBadArgument);
}

// ---- the C chain set ----

TEST(FeatureletChainSet_assign, chainsCopiedFromTheirRanges_inAnyOrder_replacingTheOldOnes) {
  std::vector<kfeat_featurelet> points = kFive;
  const kcPtrHandle<Set> set = filled({{2, 0, 1, 0}, {3, 0, 1, 4}, {2, 3, 0, 1}}, points);
  points[0].x = 99;  // the set holds copies
  ASSERT_EQ(set->numChains(), 4);
  EXPECT_EQ(xsOf(*set, 0), (std::vector<double>{3, 4}));
  EXPECT_EQ(xsOf(*set, 1), (std::vector<double>{0, 1, 2}));
  EXPECT_EQ(xsOf(*set, 2), (std::vector<double>{}));
  EXPECT_EQ(xsOf(*set, 3), (std::vector<double>{4}));
  EXPECT_TRUE(set->isClosed(0) && !set->isClosed(1) && set->isClosed(2) && !set->isClosed(3));

  // A second assignment replaces every chain; no chains at all needs no arrays.
  kfeat_featureletChainSet* c = nullptr;
  ASSERT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  const int one = 1, zero = 0;
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(c, 1, kFive.data(), &one, &zero, &one), kfeat_ok);
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(c, 0, nullptr, nullptr, nullptr, nullptr), kfeat_ok);
  set->takeFeatureletChainSet(&c);
  EXPECT_EQ(set->numChains(), 0);
}

TEST(FeatureletChainSet_assign, badArguments_refusedLeavingTheChains) {
  kfeat_featureletChainSet* c = nullptr;
  ASSERT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  const int one = 1, zero = 0, minus = -1;
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(c, 1, kFive.data(), &one, &one, &one), kfeat_ok);
  struct Case {
    const char* what;
    kfeat_featureletChainSet* set;
    int numChains;
    const kfeat_featurelet* points;
    const int *closed, *first, *counts;
  };
  const Case cases[] = {
      {"null set", nullptr, 1, kFive.data(), &one, &zero, &one},
      {"negative number of chains", c, -1, kFive.data(), &one, &zero, &one},
      {"null closed flags", c, 1, kFive.data(), nullptr, &zero, &one},
      {"negative first index", c, 1, kFive.data(), &one, &minus, &one},
      {"negative count", c, 1, kFive.data(), &one, &zero, &minus},
      {"null featurelets with a count", c, 1, nullptr, &one, &zero, &one},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(kfeat_featureletChainSet_assignSet(k.set, k.numChains, k.points, k.closed, k.first, k.counts),
              kfeat_errBadArgument)
        << k.what;
  }
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, 1, nullptr, &one, &zero, &zero), kfeat_ok) << "no featurelets read";
  Set set;
  set.takeFeatureletChainSet(&c);
  EXPECT_EQ(set.numChains(), 1);
  EXPECT_EQ(kfeat_featureletChainSet_new(nullptr), kfeat_errBadArgument);
  EXPECT_EQ(kfeat_featureletChainSet_delete(nullptr), kfeat_ok);
}

TEST(FeatureletChainSet_assign, injectedAllocationFailure_failsOnceAfterTheCountdown) {
  kfeat_featureletChainSet* c = nullptr;
  kfeat_failAllocation(0);
  EXPECT_EQ(kfeat_featureletChainSet_new(&c), kfeat_errNoMemory);
  EXPECT_EQ(c, nullptr);
  kfeat_failAllocation(2);  // new and the first assignment succeed, the second fails
  ASSERT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  const int one = 1, zero = 0, two = 2;
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(c, 1, kFive.data(), &one, &zero, &one), kfeat_ok);
  EXPECT_EQ(kfeat_featureletChainSet_assignSet(c, 1, kFive.data(), &one, &zero, &two), kfeat_errNoMemory);
  Set set;
  set.takeFeatureletChainSet(&c);
  EXPECT_EQ(set.chain(0).size(), 1u) << "the failed assignment changed nothing";
  kfeat_failAllocation(0);
  kfeat_failAllocation(-1);  // disarmed before it fired
  ASSERT_EQ(kfeat_featureletChainSet_new(&c), kfeat_ok);
  kfeat_featureletChainSet_delete(c);
}

// ---- the chain set class ----

TEST(FeatureletChainSet_take, ownershipMovesAndTheCallersPointerIsCleared) {
  Set set;
  EXPECT_EQ(set.numChains(), 0);
  EXPECT_THROW(set.takeFeatureletChainSet(nullptr), kcBadPointer);
  kfeat_featureletChainSet* first = nullptr;
  ASSERT_EQ(kfeat_featureletChainSet_new(&first), kfeat_ok);
  const int one = 1, zero = 0;
  ASSERT_EQ(kfeat_featureletChainSet_assignSet(first, 1, kFive.data(), &one, &zero, &one), kfeat_ok);
  kfeat_featureletChainSet* again = first;
  set.takeFeatureletChainSet(&first);
  set.takeFeatureletChainSet(&again);  // the set it holds: kept, not freed
  EXPECT_TRUE(first == nullptr && again == nullptr);
  EXPECT_EQ(set.numChains(), 1);
  kfeat_featureletChainSet* none = nullptr;
  set.takeFeatureletChainSet(&none);  // frees the one held (the sanitizer build sees a leak otherwise)
  EXPECT_EQ(set.numChains(), 0);
  for (const long bad : {-1L, 0L}) {
    EXPECT_THROW(set.chain(bad), kcBadArgument);
    EXPECT_THROW(set.isClosed(bad), kcBadArgument);
  }
}

TEST(FeatureletChainSet_map, positionsMappedDirectionsTurnedByTheLocalLinearPart) {
  kfeat_featurelet plain = at(2, 0);
  plain.magnitude = 5;
  plain.weight = 0.25;
  const std::vector<kfeat_featurelet> points = {directed(1, 0, 0.0), plain, directed(0, 1, kfPi / 4)};
  const kcPtrHandle<Set> set = filled({{1}, {0}, {3}}, points);
  set->imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(new kc2XformLinear()), true);

  struct Case {
    const char* what;
    kcXform<2> xform;
    double angle0, angle2;  // the directions of the first and last point after mapping
  };
  const double quarter = kfPi / 2;
  const Case cases[] = {
      {"quarter turn and shift", kcXform<2>(kcMatrix<2>::rotation(kcRadian(quarter)), kcVector<2>(10, 20)), quarter,
       3 * kfPi / 4},
      {"x doubled", kcXform<2>(kcMatrix<2>::scaling(2, 1), kcVector<2>()), 0, std::atan2(1.0, 2.0)},
      {"mirrored in x", kcXform<2>(kcMatrix<2>::scaling(-1, 1), kcVector<2>()), kfPi, 3 * kfPi / 4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const kcPtrHandle<Set> m = set->map(kc2XformLinear(k.xform));
    ASSERT_EQ(m->numChains(), 1);
    EXPECT_TRUE(m->isClosed(0));
    EXPECT_EQ(m->imageFromClientXformBase(), nullptr);
    const auto out = m->chain(0);
    ASSERT_EQ(out.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      const kcVector<2> want = k.xform.mapPoint(kcVector<2>(points[i].x, points[i].y));
      EXPECT_NEAR(out[i].x, want.x(), 1e-12);
      EXPECT_NEAR(out[i].y, want.y(), 1e-12);
    }
    EXPECT_NEAR(out[0].angle, k.angle0, 1e-12);
    EXPECT_NEAR(out[2].angle, k.angle2, 1e-12);
    EXPECT_TRUE(out[1].hasDirection == 0 && out[1].angle == 0 && out[1].magnitude == 5 && out[1].weight == 0.25);
  }
  // A linear part that maps a direction to nothing drops it; a point off the domain is refused.
  const kcPtrHandle<Set> crushed = set->map(kc2XformLinear(kcXform<2>(kcMatrix<2>(0, 0, 0, 1), kcVector<2>())));
  EXPECT_TRUE(crushed->chain(0)[0].hasDirection == 0 && crushed->chain(0)[0].angle == 0);
  const kc2XformPerspective vanishingAtX1({1, 0, 0, 0, 1, 0, 1, 0, -1});  // w = x - 1
  EXPECT_THROW(set->map(vanishingAtX1), kcBadArgument);
  EXPECT_EQ(set->chain(0)[0].x, 1);
  EXPECT_EQ(set->chain(0)[0].angle, 0);
  // An empty set maps to an empty set.
  EXPECT_EQ(Set().map(kc2XformLinear())->numChains(), 0);
}

TEST(FeatureletChainSet_imageFromClient, sharedOrCloned_nullRefused) {
  Set set;
  EXPECT_EQ(set.imageFromClientXformBase(), nullptr);
  const kcPtrHandle_const<kc2XformBase> shift(new kc2XformLinear(kcXform<2>(kcMatrix<2>(), kcVector<2>(3, 4))));
  set.imageFromClientXformBase(shift, true);
  EXPECT_EQ(set.imageFromClientXformBase(), shift);
  set.imageFromClientXformBase(shift, false);
  EXPECT_FALSE(set.imageFromClientXformBase() == shift);
  EXPECT_EQ(set.imageFromClientXformBase()->mapPoint(kcVector<2>(1, 1)), kcVector<2>(4, 5));
  EXPECT_THROW(set.imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer);
  EXPECT_EQ(set.imageFromClientXformBase()->mapPoint(kcVector<2>(1, 1)), kcVector<2>(4, 5));
}

// ---- statuses and the cleanup registry ----

TEST(Featurelet_status, negativeStatusesThrowTheirClass) {
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

TEST(Featurelet_cleanup, exceptionFreesWhatIsStillRegistered_lastFirst_once) {
  freed.clear();
  int* a = nullptr;
  int* b = nullptr;
  int* handedOver = nullptr;
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

TEST(Featurelet_cleanup, runAndReleaseAreExplicit_andAddRefusesWithoutRegistering) {
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
