// Tests of the persistence frame: dispatch steps, versions, enumerations, pairs, vectors, pointers.
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/geometry.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "persist.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A persistent class at version 2 with one field, archived through the frame.
class Probe : public kcPersistent {
 public:
  long value = 0;
  bool loadedOld = false;

 protected:
  void dispatchSerialize(kcArchive& ar) override {
    kc_Persist::dispatch(ar, *this, kVersion, &Probe::serialize_);
  }

 private:
  static constexpr unsigned char kVersion = 2;
  void serialize_(kcArchive& ar, unsigned char version) {
    kc_Persist::checkVersion(version, kVersion, "blob/probe", 4242);
    kcPersistent::dispatchSerialize(ar);
    ar || value;
    loadedOld = version < kVersion;
  }
  static kcPersistent* make() { return new Probe; }
  static kc_Instantiator sExemplar;
};
kc_Instantiator Probe::sExemplar{"blobtest::Probe", typeid(Probe), &Probe::make};

template <class Archiving>
Bytes store(Archiving archiving) {
  Bytes bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  archiving(out);
  return bytes;
}

void expectUnknownVersion(const std::function<void()>& load, const char* file, int line) {
  try {
    load();
    ADD_FAILURE() << "no throw";
  } catch (const kcArchive::UnknownVersion& e) {
    if (file) {
      EXPECT_STREQ(e.file(), file);
    } else {
      EXPECT_EQ(e.file(), nullptr);
    }
    EXPECT_EQ(e.line(), line);
  }
}

// ---- Dispatch and versions

TEST(PersistDispatch, store_writesOwnVersionBeforeBasePart) {
  Probe probe;
  probe.value = 0x01020304;
  const Bytes bytes = store([&](kcArchive& ar) { ar || probe; });
  EXPECT_EQ(bytes, (Bytes{2, 0, 4, 3, 2, 1}));
}

TEST(PersistDispatch, load_olderVersionRead_newerRefusedWithFileAndLine) {
  Probe probe;
  kcArchive old(Bytes{1, 0, 7, 0, 0, 0}.data(), 6);
  old || probe;
  EXPECT_EQ(probe.value, 7);
  EXPECT_TRUE(probe.loadedOld);

  Probe untouched;
  untouched.value = 5;
  Bytes newer{3, 0, 9, 0, 0, 0};
  kcArchive in(newer, kcArchive::eLoading);
  expectUnknownVersion([&] { in || untouched; }, "blob/probe", 4242);
  EXPECT_EQ(untouched.value, 5);
}

// ---- Enumerations

TEST(PersistEnum, stored_asFourByteInt) {
  auto analysis = kcBlobSceneDescription::eWholeImageGreyScale;
  auto cleanup = kcBlobSceneDescription::eFill;
  auto op = eMorphOpen2;
  const Bytes bytes = store([&](kcArchive& ar) { ar || analysis || cleanup || op; });
  EXPECT_EQ(bytes, (Bytes{2, 0, 0, 0, 2, 0, 0, 0, 11, 0, 0, 0}));
}

TEST(PersistEnum, outOfRangeValue_loadsUnchanged) {
  int ninetyNine = 99;
  int minusOne = -1;
  const Bytes bytes = store([&](kcArchive& ar) { ar || ninetyNine || minusOne || ninetyNine; });
  kcArchive in(bytes.data(), bytes.size());
  auto analysis = kcBlobSceneDescription::eGreyScale;
  auto cleanup = kcBlobSceneDescription::eNone;
  auto op = eMorphErode0;
  in || analysis || cleanup || op;
  EXPECT_EQ(static_cast<int>(analysis), 99);
  EXPECT_EQ(static_cast<int>(cleanup), -1);
  EXPECT_EQ(static_cast<int>(op), 99);
}

// ---- Pairs

TEST(PersistPair, longPair_versionFirstThenElements) {
  kcPair<long> p(-2, 300);
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::pair(ar, p); });
  EXPECT_EQ(bytes, (Bytes{0, 0xfe, 0xff, 0xff, 0xff, 0x2c, 0x01, 0, 0}));
  kcArchive in(bytes.data(), bytes.size());
  kcPair<long> loaded;
  kc_Persist::pair(in, loaded);
  EXPECT_EQ(loaded, p);
}

TEST(PersistPair, versionOne_throwsUnknownVersionWithoutFile_pairUnchanged) {
  Bytes bytes{1, 5, 0, 0, 0, 6, 0, 0, 0};
  kcArchive in(bytes.data(), bytes.size());
  kcPair<long> p(8, 9);
  expectUnknownVersion([&] { kc_Persist::pair(in, p); }, nullptr, 0);
  EXPECT_EQ(p, kcPair<long>(8, 9));
}

// ---- Vectors

TEST(PersistVector, threeMorphOps_storedAsByteCountAndInts) {
  std::vector<keBlobParamsMorphOp> ops{eMorphErode1, eMorphClose2, eMorphOpen2};
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::vector(ar, ops); });
  EXPECT_EQ(bytes, (Bytes{0, 3, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 11, 0, 0, 0}));

  std::vector<keBlobParamsMorphOp> five(5, eMorphDilate0);
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::vector(in, five);
  EXPECT_EQ(five, ops);
}

TEST(PersistVector, pairElements_eachWithItsOwnVersionByte) {
  std::vector<kcPair<long>> pairs{{1, 2}, {3, 4}};
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::vector(ar, pairs); });
  EXPECT_EQ(bytes.size(), 1u + 4u + 2u * 9u);
  EXPECT_EQ(bytes[5], 0);
  EXPECT_EQ(bytes[14], 0);
  std::vector<kcPair<long>> loaded;
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::vector(in, loaded);
  EXPECT_EQ(loaded, pairs);
}

TEST(PersistVector, versionOne_throwsUnknownVersionWithoutFile_vectorUnchanged) {
  Bytes bytes{1, 1, 0, 0, 0, 4, 0, 0, 0};
  kcArchive in(bytes.data(), bytes.size());
  std::vector<keBlobParamsMorphOp> ops{eMorphClose0};
  expectUnknownVersion([&] { kc_Persist::vector(in, ops); }, nullptr, 0);
  EXPECT_EQ(ops, std::vector<keBlobParamsMorphOp>{eMorphClose0});
}

TEST(PersistVector, countBeyondBytesLeft_throwsDamagedBeforeAllocating) {
  // Two ints announced as three; and a count near 2^32 that no archive could hold.
  const Bytes shortBody{0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  const Bytes hugeCount{0, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4};
  for (const Bytes& bytes : {shortBody, hugeCount}) {
    kcArchive in(bytes.data(), bytes.size());
    std::vector<int> v{42};
    EXPECT_THROW(kc_Persist::vector(in, v), kcArchive::Damaged);
    EXPECT_EQ(v, std::vector<int>{42});
  }
}

TEST(PersistVector, loadFailingMidway_leavesVectorUnchanged) {
  std::vector<double> stored{1.5, 2.5, 3.5};
  Bytes bytes = store([&](kcArchive& ar) { kc_Persist::vector(ar, stored); });
  bytes.resize(bytes.size() - 1);
  std::vector<double> target{9.0};
  kcArchive in(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::vector(in, target), kcArchive::Damaged);
  EXPECT_EQ(target, std::vector<double>{9.0});
}

// ---- Pointers

TEST(PersistPointer, ownedAndReference_loadAsOneObject) {
  auto probe = std::make_unique<Probe>();
  probe->value = 77;
  Probe* reference = probe.get();
  Probe* none = nullptr;
  const Bytes bytes = store([&](kcArchive& ar) {
    kc_Persist::ownedPointer(ar, probe);
    kc_Persist::referencePointer(ar, reference);
    kc_Persist::referencePointer(ar, none);
  });
  kcArchive in(bytes.data(), bytes.size());
  std::unique_ptr<Probe> owned;
  Probe* null = reference;
  kc_Persist::ownedPointer(in, owned);
  kc_Persist::referencePointer(in, reference);
  kc_Persist::referencePointer(in, null);
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(owned->value, 77);
  EXPECT_EQ(reference, owned.get());
  EXPECT_EQ(null, nullptr);
}

TEST(PersistPointer, ownedRawPointer_loadReplacesAndDeletesOldObject) {
  auto probe = std::make_unique<Probe>();
  probe->value = 12;
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::ownedPointer(ar, probe); });
  Probe* target = new Probe;  // the sanitizer build reports it if the load leaks it
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::ownedPointer(in, target);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->value, 12);
  delete target;
}

TEST(PersistPointer, ownedObjectOfOtherClass_deletedAndRefused) {
  std::unique_ptr<kcException> error(new kcBlobDefs::BadParams(L"not a probe"));
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::ownedPointer(ar, error); });
  auto keep = std::make_unique<Probe>();
  Probe* before = keep.get();
  kcArchive in(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::ownedPointer(in, keep), kcArchive::Damaged);
  EXPECT_EQ(keep.get(), before);
}

TEST(PersistPointer, referenceToObjectOfOtherClass_loadsNull) {
  std::unique_ptr<kcException> error(new kcBlobDefs::BadParams(L"owned elsewhere"));
  const Bytes bytes = store([&](kcArchive& ar) {
    kcException* owner = error.get();
    kc_Persist::ownedPointer(ar, error);
    kc_Persist::referencePointer(ar, owner);
  });
  kcArchive in(bytes.data(), bytes.size());
  std::unique_ptr<kcException> owner;
  Probe* reference = nullptr;
  kc_Persist::ownedPointer(in, owner);
  kc_Persist::referencePointer(in, reference);
  EXPECT_NE(owner, nullptr);
  EXPECT_EQ(reference, nullptr);
}

TEST(PersistPointer, newObjectThroughReference_deletedAndRefused) {
  // A reference always names an object archived before; a new one would have no owner.
  auto probe = std::make_unique<Probe>();
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::ownedPointer(ar, probe); });
  Probe* reference = nullptr;
  kcArchive in(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::referencePointer(in, reference), kcArchive::Damaged);
  EXPECT_EQ(reference, nullptr);
}

}  // namespace
