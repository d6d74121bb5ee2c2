// Counted handles, plane transforms, the transform cache and their archive forms.
#include <foundation/archive.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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
  kcVector<2> back = inverse.mapPoint(forward.mapPoint(p));
  EXPECT_NEAR(back.x(), p.x(), 1e-9);
  EXPECT_NEAR(back.y(), p.y(), 1e-9);
}

TEST(PtrHandle, sharingAndReset_deleteOnLastReleaseOnly) {
  int deaths = 0;
  {
    kcPtrHandle<Probe> a(new Probe(&deaths));
    {
      kcPtrHandle<Probe> b = a;
      kcPtrHandle_const<Probe> c(b);
      EXPECT_TRUE(c == a);
      EXPECT_EQ(a->refCount(), 3);
    }
    a.reset(a.get());  // resetting to the held object must not free it first
    Probe copy(*a);    // a copy starts with its own count
    EXPECT_EQ(copy.refCount(), 0);
    EXPECT_EQ(a->refCount(), 1);
    EXPECT_EQ(deaths, 0);
  }
  EXPECT_EQ(deaths, 2);
  kcPtrHandle<Probe> none;
  EXPECT_TRUE(none == nullptr);
  EXPECT_THROW(none->refCount(), kcBadPointer);
}

TEST(Xform2, inverseAndClone_undoAndCopyTheMap) {
  kc2XformLinear linear(kAffine);
  expectRoundTrip(linear, *linear.inverse(), {3.0, -8.0});
  for (kcVector<2> p : {kcVector<2>(0, 0), kcVector<2>(100, -40), kcVector<2>(-250, 300)})
    expectRoundTrip(kPerspective, *kPerspective.inverse(), p);
  kcPtrHandle<kc2XformBase> c = linear.clone();
  EXPECT_NE(c.get(), &linear);
  EXPECT_TRUE(dynamic_cast<const kc2XformLinear&>(*c) == linear);
  EXPECT_THROW(kSingular.inverse(), kcBadArgument);
  EXPECT_THROW(kc2XformPerspective({1, 2, 3, 2, 4, 6, 0, 0, 1}), kcBadArgument);
  kc2XformPerspective vanishing({1, 0, 0, 0, 1, 0, 1, 0, 1});  // w = x + 1
  EXPECT_THROW(vanishing.mapPoint({-1.0, 5.0}), kcBadArgument);
}

TEST(Xform2, linearize_matchesFiniteDifferences) {
  EXPECT_FALSE(kPerspective.isLinear());
  const double h = 1e-5;
  auto central = [](kcVector<2> at, kcVector<2> step) {
    return (kPerspective.mapPoint(at + step) - kPerspective.mapPoint(at - step)) / (2 * step.length());
  };
  for (kcVector<2> at : {kcVector<2>(0, 0), kcVector<2>(120, 80), kcVector<2>(-300, 50)}) {
    kcXform<2> lin = kPerspective.linearize(at);
    EXPECT_NEAR((lin.mapPoint(at) - kPerspective.mapPoint(at)).length(), 0.0, 1e-9);
    for (int j = 0; j < 2; ++j) {  // column j: the change per step along axis j
      kcVector<2> d = central(at, j == 0 ? kcVector<2>(h, 0.0) : kcVector<2>(0.0, h));
      EXPECT_NEAR(lin.matrix().element(0, j), d.x(), 1e-7);
      EXPECT_NEAR(lin.matrix().element(1, j), d.y(), 1e-7);
    }
  }
  // Affine maps linearise to themselves wherever asked.
  kc2XformPerspective affine({4.0, 0.0, 2.0, 0.0, 6.0, -2.0, 0.0, 0.0, 2.0});
  kcXform<2> expected(kcMatrix<2>(2.0, 0.0, 0.0, 3.0), {1.0, -1.0});
  EXPECT_TRUE(affine.isLinear());
  EXPECT_TRUE(affine.linearize({0, 0}) == expected && affine.linearize({1e3, 7.5}) == expected);
  EXPECT_TRUE(kc2XformLinear(kAffine).linearize({1e6, -1e6}) == kAffine);
}

TEST(Xform2Cache, settingEitherSide_derivesTheOther_nullOrSingularRefusedUnchanged) {
  kc2XformCache cache;
  EXPECT_TRUE(cache.isLinear() && cache.linearXform().xform().isIdentity());
  Handle h(new kc2XformLinear(kAffine));
  cache.xformInverse(h, true);
  EXPECT_EQ(cache.xformInverse().get(), h.get());
  EXPECT_TRUE(cache.linearXform().xform() == kAffine.inverse());
  EXPECT_TRUE(cache.linearXformInverse() == kc2XformLinear(kAffine));
  cache.xform(h, false);
  EXPECT_NE(cache.xform().get(), h.get());
  EXPECT_TRUE(cache.linearXform() == kc2XformLinear(kAffine));
  const kcXform<2>& inverse = cache.linearXformInverse();
  EXPECT_TRUE(kfRealEq(inverse * kAffine, kcXform<2>(), 1e-12));
  cache.xform(kPerspective);
  EXPECT_FALSE(cache.isLinear());
  EXPECT_THROW(cache.linearXform(), kcBadArgument);
  expectRoundTrip(*cache.xform(), *cache.xformInverse(), {17.0, -4.0});
  // A null or singular side is refused and leaves the cache as it was.
  const kc2XformBase* before = cache.xform().get();
  EXPECT_THROW(cache.xform(Handle(), true), kcBadPointer);
  EXPECT_THROW(cache.xformInverse(kSingular), kcBadArgument);
  EXPECT_EQ(cache.xform().get(), before);
}

// ---- archive forms

std::vector<unsigned char> storeCaches(std::vector<kc2XformCache> caches) {
  std::vector<unsigned char> bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  for (kc2XformCache& c : caches) out || c;
  return bytes;
}

// A cache form whose primary side is the given pointer form, after an optional in-place object.
std::vector<unsigned char> cacheBytesWith(const kcPersistent* primary, kcPersistent* inPlace = nullptr) {
  std::vector<unsigned char> bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  if (inPlace) out || *inPlace;
  unsigned char version = 0;
  bool inverseIsPrimary = false;
  kcPersistent* unused = nullptr;
  out || version || inverseIsPrimary;
  kcPersistent::serializePointer(out, const_cast<kcPersistent*>(primary), unused, false);
  return bytes;
}

template <class Error = kcArchive::Damaged>
void expectLoadRefused(std::vector<unsigned char> bytes, kcPersistent* inPlace = nullptr) {
  kc2XformCache cache;
  const kc2XformBase* before = cache.xform().get();
  kcArchive in(bytes, kcArchive::eLoading);
  if (inPlace) in || *inPlace;
  EXPECT_THROW(in || cache, Error);
  EXPECT_EQ(cache.xform().get(), before);
}

TEST(Xform2CacheArchive, roundTrip_exactAndSharingKept) {
  kc2XformCache a, b, c;
  a.xformInverse(kc2XformLinear(kAffine));
  b.xform(kPerspective);
  std::vector<unsigned char> bytes = storeCaches({a, b, b, c, c});
  kc2XformCache a2, b2, b3, c2, c3;
  kcArchive in(bytes, kcArchive::eLoading);
  in || a2 || b2 || b3 || c2 || c3;
  EXPECT_TRUE(a2.linearXformInverse() == a.linearXformInverse());
  EXPECT_TRUE(a2.linearXform() == a.linearXform());  // derived again from the same primary side
  EXPECT_TRUE(dynamic_cast<const kc2XformPerspective&>(*b2.xform()) == kPerspective);
  EXPECT_EQ(b2.xform().get(), b3.xform().get());
  EXPECT_EQ(c2.xform().get(), c3.xform().get());
  EXPECT_TRUE(c2.linearXform().xform().isIdentity());
}

TEST(Xform2CacheArchive, hostileOrNewerForms_refusedUnchanged) {
  expectLoadRefused(cacheBytesWith(nullptr));
  kcBadArgument notATransform(L"x");
  expectLoadRefused(cacheBytesWith(&notATransform));
  expectLoadRefused(cacheBytesWith(&kSingular));
  std::vector<unsigned char> zeroed = cacheBytesWith(&kPerspective);
  std::memset(zeroed.data() + zeroed.size() - 72, 0, 72);  // the nine elements: singular
  expectLoadRefused(zeroed);
  // A back-reference to a transform that no handle holds must not be adopted.
  kc2XformLinear stored(kAffine), target;
  expectLoadRefused(cacheBytesWith(&stored, &stored), &target);
  EXPECT_EQ(target.refCount(), 0);
  std::vector<unsigned char> newer = storeCaches({kc2XformCache()});
  newer[0] = 1;
  expectLoadRefused<kcArchive::UnknownVersion>(newer);
}

}  // namespace
