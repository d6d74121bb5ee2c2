// Counted handles, plane transforms and the transform cache.
#include <foundation/xform.h>

#include <gtest/gtest.h>


namespace {

using Handle = kcPtrHandle_const<kc2XformBase>;

struct Probe : kcRepBase {  // counts its destruction
  explicit Probe(int* deaths) : deaths_(deaths) {}
  ~Probe() override { ++*deaths_; }
  int* deaths_;
};

const kcXform<2> kAffine(kcMatrix<2>(1.6, 0.3, 0.7, -0.5), {4.0, -1.0});
const kc2XformPerspective kPerspective({1.2, 0.1, 5.0, -0.2, 0.9, -3.0, 0.002, 0.001, 1.0});
const kc2XformLinear kSingular(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), {}));

void expectRoundTrip(const kc2XformBase& forward, const kc2XformBase& inverse, kcVector<2> p) {
  EXPECT_NEAR((inverse.mapPoint(forward.mapPoint(p)) - p).length(), 0.0, 1e-9);
}

TEST(PtrHandle, sharingAndReset_deleteOnLastReleaseOnly) {
  int deaths = 0;
  {
    kcPtrHandle<Probe> a(new Probe(&deaths));
    {
      kcPtrHandle<Probe> b = a;
      kcPtrHandle_const<Probe> c(b);
      EXPECT_TRUE(c == a && a->refCount() == 3);
    }
    a.reset(a.get());  // resetting to the held object must not free it first
    Probe copy(*a);    // a copy starts with its own count
    EXPECT_TRUE(copy.refCount() == 0 && a->refCount() == 1 && deaths == 0);
  }
  EXPECT_EQ(deaths, 2);
  EXPECT_THROW(kcPtrHandle<Probe>()->refCount(), kcBadPointer);
}

TEST(Xform2, inverseAndClone_undoAndCopyTheMap) {
  kc2XformLinear linear(kAffine);
  expectRoundTrip(linear, *linear.inverse(), {3.0, -8.0});
  for (kcVector<2> p : {kcVector<2>(0, 0), kcVector<2>(100, -40), kcVector<2>(-250, 300)})
    expectRoundTrip(kPerspective, *kPerspective.inverse(), p);
  kcPtrHandle<kc2XformBase> c = linear.clone();
  EXPECT_TRUE(c.get() != &linear && dynamic_cast<const kc2XformLinear&>(*c) == linear);
  EXPECT_THROW(kSingular.inverse(), kcBadArgument);
  EXPECT_THROW(kc2XformPerspective({1, 2, 3, 2, 4, 6, 0, 0, 1}), kcBadArgument);
  kc2XformPerspective vanishing({1, 0, 0, 0, 1, 0, 1, 0, 1});  // w = x + 1
  EXPECT_THROW(vanishing.mapPoint({-1.0, 5.0}), kcBadArgument);
}

// Either side set derives the other; a shared handle is kept, an unshared one copied; a null or
// singular side is refused and leaves the cache as it was.
TEST(Xform2Cache, settingEitherSide_derivesTheOther_nullOrSingularRefusedUnchanged) {
  kc2XformCache cache;
  EXPECT_TRUE(cache.isLinear() && cache.linearXform().xform().isIdentity());
  Handle h(new kc2XformLinear(kAffine));
  cache.xformInverse(h, true);
  EXPECT_EQ(cache.xformInverse().get(), h.get());
  EXPECT_TRUE(cache.linearXform().xform() == kAffine.inverse() && cache.linearXformInverse() == kc2XformLinear(kAffine));
  cache.xform(h, false);
  EXPECT_TRUE(cache.xform().get() != h.get() && kfRealEq(cache.linearXformInverse().xform() * kAffine, kcXform<2>(), 1e-12));
  cache.xform(kPerspective);
  EXPECT_FALSE(cache.isLinear());
  EXPECT_THROW(cache.linearXform(), kcBadArgument);
  expectRoundTrip(*cache.xform(), *cache.xformInverse(), {17.0, -4.0});
  const kc2XformBase* before = cache.xform().get();
  EXPECT_THROW(cache.xform(Handle(), true), kcBadPointer);
  EXPECT_THROW(cache.xformInverse(kSingular), kcBadArgument);
  EXPECT_EQ(cache.xform().get(), before);
}

}  // namespace
