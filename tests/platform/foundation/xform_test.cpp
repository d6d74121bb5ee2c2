// Counted handles, plane transforms, the transform cache and their archive forms.
#include <foundation/archive.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr double kTol = 1e-12;

// A counted object that reports its destruction.
struct Probe : kcRepBase {
  explicit Probe(int* deaths) : deaths_(deaths) {}
  ~Probe() override { ++*deaths_; }
  int* deaths_;
};

kcXform<2> sampleAffine() {
  return kcXform<2>(kcMatrix<2>::rotation(kcRadian(0.4)) * kcMatrix<2>(2.0, 0.3, 0.0, 0.5), {4.0, -1.0});
}

// A homography with real perspective: the line 0.002 x + 0.001 y + 1 = 0 lies far from the tests.
kc2XformPerspective samplePerspective() {
  return kc2XformPerspective({1.2, 0.1, 5.0, -0.2, 0.9, -3.0, 0.002, 0.001, 1.0});
}

void expectNear(const kcVector<2>& a, const kcVector<2>& b, double tol) {
  EXPECT_NEAR(a.x(), b.x(), tol);
  EXPECT_NEAR(a.y(), b.y(), tol);
}

// ---- handles

TEST(PtrHandle, copiesAndResets_deleteOnLastRelease) {
  int deaths = 0;
  {
    kcPtrHandle<Probe> a(new Probe(&deaths));
    EXPECT_EQ(a->refCount(), 1);
    {
      kcPtrHandle<Probe> b = a;
      kcPtrHandle_const<Probe> c(b);
      EXPECT_EQ(a->refCount(), 3);
      EXPECT_TRUE(c == a);
      kcPtrHandle<Probe>& alias = b;
      b = alias;  // self-assignment keeps the object
      kcPtrHandle<Probe> moved = std::move(b);
      EXPECT_FALSE(b);
      EXPECT_EQ(a->refCount(), 3);
    }
    EXPECT_EQ(a->refCount(), 1);
    a.reset(a.get());  // resetting to the held object must not free it first
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(a->refCount(), 1);
  }
  EXPECT_EQ(deaths, 1);
}

TEST(PtrHandle, identityEqualityAndNull) {
  int deaths = 0;
  kcPtrHandle<Probe> a(new Probe(&deaths));
  kcPtrHandle<Probe> b(new Probe(&deaths));
  EXPECT_FALSE(a == b);
  kcPtrHandle<Probe> none;
  EXPECT_TRUE(none == nullptr);
  EXPECT_THROW(*none, kcBadPointer);
  EXPECT_THROW(none->refCount(), kcBadPointer);
  // A copy of a counted object starts with its own count.
  Probe copy(*a);
  EXPECT_EQ(copy.refCount(), 0);
  EXPECT_EQ(a->refCount(), 1);
}

// ---- transforms

TEST(Xform2Linear, inverseCloneLinearize) {
  kc2XformLinear t(sampleAffine());
  kcPtrHandle_const<kc2XformBase> inv = t.inverse();
  kcVector<2> p(3.0, -8.0);
  expectNear(inv->mapPoint(t.mapPoint(p)), p, kTol);
  EXPECT_EQ(t.linearize({1e6, -1e6}), sampleAffine());
  kcPtrHandle<kc2XformBase> c = t.clone();
  ASSERT_NE(dynamic_cast<const kc2XformLinear*>(c.get()), nullptr);
  EXPECT_NE(c.get(), &t);
  EXPECT_TRUE(*dynamic_cast<const kc2XformLinear*>(c.get()) == t);
  EXPECT_THROW(kc2XformLinear(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), {})).inverse(), kcBadArgument);
}

TEST(Xform2Perspective, inverseUndoesMap) {
  kc2XformPerspective t = samplePerspective();
  EXPECT_FALSE(t.isLinear());
  kcPtrHandle_const<kc2XformBase> inv = t.inverse();
  for (kcVector<2> p : {kcVector<2>(0, 0), kcVector<2>(100, -40), kcVector<2>(-250, 300)}) {
    expectNear(inv->mapPoint(t.mapPoint(p)), p, 1e-9);
  }
}

TEST(Xform2Perspective, linearize_matchesFiniteDifferences) {
  kc2XformPerspective t = samplePerspective();
  const double h = 1e-5;
  for (kcVector<2> at : {kcVector<2>(0, 0), kcVector<2>(120, 80), kcVector<2>(-300, 50)}) {
    kcXform<2> lin = t.linearize(at);
    expectNear(lin.mapPoint(at), t.mapPoint(at), 1e-9);
    kcVector<2> dx = (t.mapPoint(at + kcVector<2>(h, 0)) - t.mapPoint(at - kcVector<2>(h, 0))) / (2 * h);
    kcVector<2> dy = (t.mapPoint(at + kcVector<2>(0, h)) - t.mapPoint(at - kcVector<2>(0, h))) / (2 * h);
    EXPECT_NEAR(lin.matrix().element(0, 0), dx.x(), 1e-7);
    EXPECT_NEAR(lin.matrix().element(1, 0), dx.y(), 1e-7);
    EXPECT_NEAR(lin.matrix().element(0, 1), dy.x(), 1e-7);
    EXPECT_NEAR(lin.matrix().element(1, 1), dy.y(), 1e-7);
  }
}

TEST(Xform2Perspective, affineMatrix_isLinearAndLinearizeIgnoresPoint) {
  kc2XformPerspective t({4.0, 0.0, 2.0, 0.0, 6.0, -2.0, 0.0, 0.0, 2.0});
  EXPECT_TRUE(t.isLinear());
  kcXform<2> expected(kcMatrix<2>(2.0, 0.0, 0.0, 3.0), {1.0, -1.0});
  EXPECT_EQ(t.linearize({0, 0}), expected);
  EXPECT_EQ(t.linearize({1e3, 7.5}), expected);
}

TEST(Xform2Perspective, singularOrOffDomain_throwsBadArgument) {
  EXPECT_THROW(kc2XformPerspective({1, 2, 3, 2, 4, 6, 0, 0, 1}), kcBadArgument);
  EXPECT_THROW(kc2XformPerspective({1, 0, 0, 0, 1, 0, 0, 0, std::nan("")}), kcBadArgument);
  kc2XformPerspective t({1, 0, 0, 0, 1, 0, 1, 0, 1});  // w = x + 1
  EXPECT_THROW(t.mapPoint({-1.0, 5.0}), kcBadArgument);
  EXPECT_THROW(t.linearize({-1.0, 0.0}), kcBadArgument);
}

// ---- cache

TEST(Xform2Cache, default_isIdentityPair) {
  kc2XformCache cache;
  ASSERT_TRUE(cache.isLinear());
  EXPECT_TRUE(cache.linearXform().xform().isIdentity());
  EXPECT_TRUE(cache.linearXformInverse().xform().isIdentity());
  EXPECT_NE(cache.xform().get(), nullptr);
  EXPECT_NE(cache.xformInverse().get(), nullptr);
}

TEST(Xform2Cache, settingEitherSide_derivesTheOther) {
  kcPtrHandle_const<kc2XformBase> h(new kc2XformLinear(sampleAffine()));
  kc2XformCache shared;
  shared.xformInverse(h, true);
  EXPECT_EQ(shared.xformInverse().get(), h.get());
  EXPECT_TRUE(kfRealEq(shared.linearXform().xform(), sampleAffine().inverse(), 0.0));
  EXPECT_TRUE(shared.linearXformInverse() == kc2XformLinear(sampleAffine()));

  kc2XformCache cloned;
  cloned.xform(h, false);
  EXPECT_NE(cloned.xform().get(), h.get());
  EXPECT_TRUE(cloned.linearXform() == kc2XformLinear(sampleAffine()));
  const kcXform<2>& inverse = cloned.linearXformInverse();
  EXPECT_TRUE(kfRealEq(inverse * sampleAffine(), kcXform<2>(), kTol));

  kc2XformCache persp;
  persp.xform(samplePerspective());
  EXPECT_FALSE(persp.isLinear());
  EXPECT_THROW(persp.linearXform(), kcBadArgument);
  kcVector<2> p(17.0, -4.0);
  expectNear(persp.xformInverse()->mapPoint(persp.xform()->mapPoint(p)), p, 1e-9);
}

TEST(Xform2Cache, badTransform_throwsAndLeavesCacheUnchanged) {
  kc2XformCache cache;
  cache.xform(kc2XformLinear(sampleAffine()));
  const kc2XformBase* before = cache.xform().get();
  EXPECT_THROW(cache.xform(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer);
  EXPECT_THROW(cache.xformInverse(kc2XformLinear(kcXform<2>(kcMatrix<2>(0, 0, 0, 0), {}))), kcBadArgument);
  EXPECT_EQ(cache.xform().get(), before);
  EXPECT_TRUE(cache.linearXform() == kc2XformLinear(sampleAffine()));
}

// ---- archive forms

std::vector<unsigned char> storeCaches(std::vector<kc2XformCache> caches) {
  std::vector<unsigned char> bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  for (kc2XformCache& c : caches) out || c;
  return bytes;
}

// The cache header (version 0, primary-side flag) followed by any pointer form.
std::vector<unsigned char> cacheBytesWith(kcPersistent* primary) {
  std::vector<unsigned char> bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  unsigned char version = 0;
  bool inverseIsPrimary = false;
  kcPersistent* unused = nullptr;
  out || version || inverseIsPrimary;
  kcPersistent::serializePointer(out, primary, unused, false);
  return bytes;
}

void expectLoadRefused(std::vector<unsigned char> bytes) {
  kc2XformCache cache;
  cache.xform(kc2XformLinear(sampleAffine()));
  const kc2XformBase* before = cache.xform().get();
  kcArchive in(bytes, kcArchive::eLoading);
  EXPECT_THROW(in || cache, kcArchive::Damaged);
  EXPECT_EQ(cache.xform().get(), before);
}

TEST(Xform2CacheArchive, roundTrip_bothSidesExact) {
  kc2XformCache a;
  a.xformInverse(kc2XformLinear(sampleAffine()));
  kc2XformCache b;
  b.xform(samplePerspective());
  std::vector<unsigned char> bytes = storeCaches({a, b});
  kc2XformCache a2, b2;
  kcArchive in(bytes, kcArchive::eLoading);
  in || a2 || b2;
  EXPECT_TRUE(a2.linearXformInverse() == a.linearXformInverse());
  EXPECT_TRUE(a2.linearXform() == a.linearXform());  // derived again from the same primary side
  const auto* p = dynamic_cast<const kc2XformPerspective*>(b2.xform().get());
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(*p == samplePerspective());
}

TEST(Xform2CacheArchive, sharedTransform_loadsSharedOnce) {
  kc2XformCache a;
  a.xform(samplePerspective());
  kc2XformCache b = a;  // copies share both sides
  kc2XformCache c;
  std::vector<unsigned char> bytes = storeCaches({a, b, c, c});
  kc2XformCache a2, b2, c2, d2;
  kcArchive in(bytes, kcArchive::eLoading);
  in || a2 || b2 || c2 || d2;
  EXPECT_EQ(a2.xform().get(), b2.xform().get());
  EXPECT_EQ(c2.xform().get(), d2.xform().get());
  EXPECT_TRUE(c2.linearXform().xform().isIdentity());
}

TEST(Xform2CacheArchive, hostileForms_refusedWithDamaged) {
  expectLoadRefused(cacheBytesWith(nullptr));
  kcBadArgument notATransform(L"x");
  expectLoadRefused(cacheBytesWith(&notATransform));
  kc2XformLinear singular(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), {}));
  expectLoadRefused(cacheBytesWith(&singular));

  // A perspective whose nine stored elements are zeroed is singular.
  kc2XformPerspective persp = samplePerspective();
  std::vector<unsigned char> zeroed = cacheBytesWith(&persp);
  std::memset(zeroed.data() + zeroed.size() - 72, 0, 72);
  expectLoadRefused(zeroed);

  // A back-reference to a transform that no handle holds (archived in place) must not be adopted.
  kc2XformLinear inPlace(sampleAffine());
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    out || inPlace;
    unsigned char version = 0;
    bool inverseIsPrimary = false;
    kcPersistent* unused = nullptr;
    out || version || inverseIsPrimary;
    kcPersistent::serializePointer(out, &inPlace, unused, false);
  }
  kc2XformLinear target;
  kc2XformCache cache;
  kcArchive in(bytes, kcArchive::eLoading);
  in || target;
  EXPECT_THROW(in || cache, kcArchive::Damaged);
  EXPECT_EQ(target.refCount(), 0);
}

TEST(Xform2CacheArchive, newerVersions_throwUnknownVersion) {
  std::vector<unsigned char> bytes = storeCaches({kc2XformCache()});
  bytes[0] = 1;
  kc2XformCache cache;
  kcArchive in(bytes, kcArchive::eLoading);
  EXPECT_THROW(in || cache, kcArchive::UnknownVersion);

  kc2XformLinear t(sampleAffine());
  std::vector<unsigned char> linear;
  {
    kcArchive out(linear, kcArchive::eStoring);
    out || t;
  }
  linear[0] = 1;
  kc2XformLinear back;
  kcArchive inLinear(linear, kcArchive::eLoading);
  EXPECT_THROW(inLinear || back, kcArchive::UnknownVersion);
  EXPECT_TRUE(back.xform().isIdentity());
}

}  // namespace
