// Tests of kcBlobParams: setter checks and their order, getters per segmentation, copies, archive.
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/messages.h"
#include "platform/foundation/archive_bytes.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Msg = kc_BlobMessages;
using Call = std::function<void(kcBlobParams&)>;
using Desc = kcBlobSceneDescription;

// archived(p): the archive of p; two objects with equal archives hold equal fields.
Bytes archived(const kcBlobParams& p) { return archive_bytes::storedValue(p); }

std::string text(const std::vector<unsigned char>& v) { return std::string(v.begin(), v.end()); }

// The segmentation getters, each writing what it answers.
using Getter = std::function<void(const kcBlobParams&, std::ostream&)>;
const std::pair<const char*, Getter> kGetters[] = {
    {"map", [](auto& p, auto& os) { os << text(p.map()); }},
    {"postMap", [](auto& p, auto& os) { os << text(p.postMap()); }},
    {"threshImage", [](auto& p, auto& os) { os << p.threshImage().width() << 'x' << p.threshImage().height(); }},
    {"thresh", [](auto& p, auto& os) { os << +p.thresh(); }},
    {"invert", [](auto& p, auto& os) { os << p.invert(); }},
    {"hiThresh", [](auto& p, auto& os) { os << +p.hiThresh(); }},
    {"softness", [](auto& p, auto& os) { os << +p.softness(); }},
    {"isThreshPercent", [](auto& p, auto& os) { os << p.isThreshPercent(); }},
    {"lowTailPercent", [](auto& p, auto& os) { os << p.lowTailPercent(); }},
    {"hiTailPercent", [](auto& p, auto& os) { os << p.hiTailPercent(); }},
};

// describe(p): every value the getters show, "-" for a refused one; independent of the archive.
std::string describe(const kcBlobParams& p) {
  std::ostringstream os;
  os << p.segmentationType() << ' ' << +p.scaleVal() << ' ';
  for (const auto& [name, get] : kGetters) {
    try {
      get(p, os);
    } catch (const kcBlobDefs::BadParams&) {
      os << '-';
    }
    os << ' ';
  }
  os << p.keepRLE() << p.keepMasked() << p.keepMorphed() << p.useMaskForInterior() << ' ' << p.connectivityType()
     << p.connectivityCleanup() << p.connectivityMinPels() << ' ' << p.morph().size() << p.mask().width()
     << p.mask().numRuns();
  return os.str();
}

kcPelBuffer_const<unsigned char> picture(long width, long height, unsigned char seed) {
  kcPelBuffer<unsigned char> image(width, height);
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x) image.pointToRow(y)[x] = static_cast<unsigned char>(seed + x * y);
  return image;
}

// A fully configured object: every field away from its default, soft percentage segmentation
// last, so that fields of other kinds hold values too.
kcBlobParams configured() {
  kcBlobParams p;
  p.setSegmentationThreshImage({1, 2}, picture(3, 2, 7), {9}, 4);
  p.setSegmentationMap({5, 6, 7}, 2);
  p.setSegmentationSoftThresh(10L, 20L, 30L, 40L, 5, true);
  p.keepRLE(true);
  p.keepMasked(true);
  p.keepMorphed(true);
  p.useMaskForInterior(true);
  kcRLEBuffer mask;
  mask.encode(picture(5, 4, 1), 3, false);
  p.mask(mask);
  p.morph({eMorphClose1, eMorphErode2});
  p.connectivityType(Desc::eLabelled);
  p.connectivityCleanup(Desc::eFill);
  p.connectivityMinPels(17);
  return p;
}

// expectRefused(p, call, message): call throws BadParams with the table's message and changes
// nothing, notice included.
void expectRefused(kcBlobParams& p, const Call& call, Msg::Tool message) {
  const Bytes before = archived(p);
  const auto notices = p.mutationCount();
  try {
    call(p);
    ADD_FAILURE() << "no throw; expected message " << message;
  } catch (const kcBlobDefs::BadParams& e) {
    EXPECT_EQ(e.message(false), Msg::kTool[message]);
  }
  EXPECT_EQ(archived(p), before);
  EXPECT_EQ(p.mutationCount(), notices);
}

TEST(BlobParams, BlobParams_defaults_noSegmentationScaleOneAndEmptySettings) {
  const kcBlobParams p;
  EXPECT_TRUE(p.segmentationType() == kcBlobParams::eNoSegmentation && p.scaleVal() == 1);
  EXPECT_TRUE(p.mask().isDegenerate() && p.morph().empty() && p.connectivityMinPels() == 0);
  EXPECT_TRUE(p.connectivityType() == Desc::eGreyScale && p.connectivityCleanup() == Desc::eNone);
  EXPECT_FALSE(p.keepRLE() || p.keepMasked() || p.keepMorphed() || p.useMaskForInterior());
}

// ---- Segmentation setters: each check in order, the first failure wins

void hard(kcBlobParams& p, long lowTail, long hiTail, long thresh) {
  p.setSegmentationHardThresh(lowTail, hiTail, thresh, false);
}
void soft(kcBlobParams& p, unsigned char low, unsigned char high, unsigned char softness) {
  p.setSegmentationSoftThresh(low, high, softness, false);
}
void softPercent(kcBlobParams& p, long lowTail, long hiTail, long low, long high, unsigned char softness) {
  p.setSegmentationSoftThresh(lowTail, hiTail, low, high, softness, false);
}

TEST(BlobParamsSetters, BlobParamsSetters_faultyArguments_firstCheckInOrderWinsObjectUnchanged) {
  const kcPelBuffer_const<unsigned char> unbound;
  const std::vector<std::pair<Call, Msg::Tool>> cases = {
      {[](auto& p) { p.setSegmentationNone(0); }, Msg::eScaleNotPositive},
      {[](auto& p) { p.setSegmentationMap({}, 0); }, Msg::eScaleNotPositive},
      {[](auto& p) { p.setSegmentationMap({}, 1); }, Msg::eMapEmpty},
      {[&](auto& p) { p.setSegmentationThreshImage({}, unbound, {}, 0); }, Msg::eScaleNotPositive},
      {[&](auto& p) { p.setSegmentationThreshImage({}, unbound, {}, 1); }, Msg::eThreshImageUnbound},
      {[](auto& p) { hard(p, -1, 102, 0); }, Msg::eLowTailRange},  // the sum fails as well
      {[](auto& p) { hard(p, 101, 0, 0); }, Msg::eLowTailRange},
      {[](auto& p) { hard(p, 0, 101, 101); }, Msg::eHiTailRange},
      {[](auto& p) { hard(p, 0, -1, 0); }, Msg::eHiTailRange},
      {[](auto& p) { hard(p, 60, 60, 101); }, Msg::eThreshPercentRange},
      {[](auto& p) { hard(p, 0, 0, -1); }, Msg::eThreshPercentRange},
      {[](auto& p) { hard(p, 50, 51, 0); }, Msg::eTailSum},
      {[](auto& p) { soft(p, 20, 20, 0); }, Msg::eLowNotBelowHigh},
      {[](auto& p) { soft(p, 30, 10, 255); }, Msg::eLowNotBelowHigh},
      {[](auto& p) { soft(p, 10, 20, 11); }, Msg::eSoftnessAboveRange},
      {[](auto& p) { soft(p, 0, 255, 255); }, Msg::eSoftnessMax},
      {[](auto& p) { softPercent(p, -1, 102, 200, -5, 255); }, Msg::eLowTailRange},
      {[](auto& p) { softPercent(p, 0, 101, 200, -5, 255); }, Msg::eHiTailRange},
      {[](auto& p) { softPercent(p, 0, 0, 101, -5, 255); }, Msg::eLowThreshPercentRange},
      {[](auto& p) { softPercent(p, 60, 60, 0, -1, 255); }, Msg::eHiThreshPercentRange},
      {[](auto& p) { softPercent(p, 50, 51, 60, 40, 255); }, Msg::eTailSum},
      {[](auto& p) { softPercent(p, 50, 50, 60, 40, 255); }, Msg::eThreshPercentOrder},
      {[](auto& p) { softPercent(p, 0, 0, 40, 40, 255); }, Msg::eSoftnessMax},
      {[](auto& p) { p.connectivityMinPels(-1); }, Msg::eMinPelsNegative},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    kcBlobParams p = configured();
    expectRefused(p, cases[i].first, cases[i].second);
  }
}

// The values the setters store reach the encoder (BlobAnalysis_pipeline); here the boundaries
// pass and the values each form derives: scale value, percentage flag, the pre map.
TEST(BlobParamsSetters, BlobParamsSetters_boundaries_acceptedDerivedValuesSet) {
  kcBlobParams p = configured();  // soft percentages: scale value 6
  hard(p, 50, 50, 100);           // tails that sum to 100, a 100 % threshold
  hard(p, 0, 100, 0);
  EXPECT_TRUE(p.scaleVal() == 1 && p.isThreshPercent());
  p.setSegmentationHardThresh(128, true);  // after a percentage form: no tails any more
  EXPECT_FALSE(p.isThreshPercent());
  expectRefused(p, [](auto& q) { q.lowTailPercent(); }, Msg::eTailsNotSpecified);
  soft(p, 10, 20, 10);
  EXPECT_TRUE(p.scaleVal() == 11 && !p.isThreshPercent());
  soft(p, 0, 255, 254);
  EXPECT_EQ(p.scaleVal(), 255);
  softPercent(p, 0, 100, 40, 40, 254);  // equal percentages pass
  EXPECT_TRUE(p.scaleVal() == 255 && p.isThreshPercent());
  p.setSegmentationThreshImage({}, picture(4, 3, 2), {8, 8}, 255);
  EXPECT_TRUE(p.map().empty());  // the map of configured() replaced
}

// ---- Getters under each segmentation kind

// Per getter of kGetters: '.' where it answers, else the index of its refusal's message.
struct Kind {
  const char* name;
  Call set;
  const char* getters;
};
const Kind kKinds[] = {
    {"none", [](auto& p) { p.setSegmentationNone(2); }, "0123345677"},
    {"map", [](auto& p) { p.setSegmentationMap({1}, 2); }, ".123345677"},
    {"hard", [](auto& p) { p.setSegmentationHardThresh(9, false); }, "012..45.88"},
    {"hard %", [](auto& p) { hard(p, 1, 2, 3); }, "012..45..."},
    {"soft", [](auto& p) { soft(p, 1, 9, 2); }, "012.....88"},
    {"soft %", [](auto& p) { softPercent(p, 1, 2, 3, 4, 5); }, "012......."},
    {"image", [](auto& p) { p.setSegmentationThreshImage({}, picture(1, 1, 0), {}, 2); }, "...3345677"},
};

TEST(BlobParamsGetters, BlobParamsGetters_eachKind_meaningfulFieldsOrTheirMessage) {
  for (const Kind& kind : kKinds) {
    kcBlobParams p = configured();  // fields of every kind hold values
    kind.set(p);
    for (std::size_t g = 0; g < std::size(kGetters); ++g) {
      SCOPED_TRACE(std::string(kind.name) + " / " + kGetters[g].first);
      std::ostringstream sink;
      const Call get = [&](kcBlobParams& q) { kGetters[g].second(q, sink); };
      if (kind.getters[g] == '.') {
        EXPECT_NO_THROW(get(p));
      } else {
        expectRefused(p, get, static_cast<Msg::Tool>(kind.getters[g] - '0'));
      }
    }
  }
}

// ---- Connectivity, morphology, mask and keep settings (that out-of-range values are stored
// unchecked shows in BlobAnalysis_refusals, where the analysis refuses them)

TEST(BlobParamsSettings, BlobParamsSettings_set_givesNoticeMinPelsBeyond32BitsRefusedUnchanged) {
  kcBlobParams p;
  const auto notices = p.mutationCount();
  p.connectivityType(static_cast<Desc::Analysis>(7));
  p.connectivityCleanup(static_cast<Desc::ConnectCleanup>(-3));
  p.morph({eMorphOpen2, static_cast<keBlobParamsMorphOp>(99)});
  p.mask(kcRLEBuffer());
  EXPECT_EQ(p.mutationCount(), notices + 4);

  const long tooWide = long{std::numeric_limits<std::int32_t>::max()} + 1;
  const Bytes before = archived(p);
  EXPECT_THROW(p.connectivityMinPels(tooWide), kcBadArgument);
  EXPECT_EQ(archived(p), before);
  EXPECT_NO_THROW(p.connectivityMinPels(0));
  p.connectivityMinPels(tooWide - 1);
  EXPECT_EQ(p.connectivityMinPels(), tooWide - 1);
}

TEST(BlobParamsCopy, BlobParamsCopy_copyAndAssignment_equalThenIndependent) {
  const kcBlobParams original = configured();
  const Bytes originalBytes = archived(original);
  kcBlobParams copy(original), assigned;
  const auto notices = assigned.mutationCount();
  assigned = original;
  EXPECT_GT(assigned.mutationCount(), notices);
  EXPECT_TRUE(archived(copy) == originalBytes && archived(assigned) == originalBytes);
  EXPECT_TRUE(describe(copy) == describe(original) && describe(assigned) == describe(original));

  copy.morph({eMorphDilate0});
  copy.mask(kcRLEBuffer());
  copy.setSegmentationMap({4}, 1);
  assigned.setSegmentationThreshImage({7}, picture(2, 2, 3), {6}, 1);
  EXPECT_EQ(archived(original), originalBytes);
}

// ---- Archive form

TEST(BlobParamsArchive, BlobParamsArchive_everyKind_roundTripsThroughRegistry) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto original = std::make_unique<kcBlobParams>(configured());
    kind.set(*original);
    Bytes bytes;
    {
      kcArchive out(bytes, kcArchive::eStoring);
      kc_Persist::ownedPointer(out, original);
    }
    std::unique_ptr<kcPersistent> loaded;
    kcArchive in(bytes.data(), bytes.size());
    kc_Persist::ownedPointer(in, loaded);
    auto* params = dynamic_cast<kcBlobParams*>(loaded.get());
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(describe(*params), describe(*original));
    EXPECT_EQ(archived(*params), archived(*original));  // the hidden fields as well
    EXPECT_TRUE(params->mask() == original->mask());
  }
}

TEST(BlobParamsArchive, BlobParamsArchive_versionZeroLoadsNoInteriorMaskNewerOrTruncatedRefusedUnchanged) {
  // A version-0 archive is the version-1 form without its last field.
  const kcBlobParams original = configured();
  const Bytes bytes = archived(original);
  ASSERT_EQ(bytes[0], 1);  // the version of kcBlobParams, then that of kcPersistent
  ASSERT_EQ(bytes[1], 0);
  ASSERT_EQ(bytes.back(), 1);  // useMaskForInterior comes last
  Bytes old(bytes.begin(), bytes.end() - 1);
  old[0] = 0;
  kcBlobParams loaded;
  loaded.useMaskForInterior(true);
  kcArchive oldIn(old.data(), old.size());
  oldIn || loaded;
  EXPECT_EQ(oldIn.remaining(), 0u);
  EXPECT_FALSE(loaded.useMaskForInterior());
  loaded.useMaskForInterior(true);
  EXPECT_EQ(archived(loaded), bytes);  // every other field as version 1 reads it

  kcBlobParams target;
  target.setSegmentationHardThresh(3, false);
  target.morph({eMorphOpen0});
  const Bytes before = archived(target);
  for (std::size_t size = 0; size < bytes.size(); ++size) {  // every failure point of the body
    kcArchive in(bytes.data(), size);
    EXPECT_THROW(in || target, kcException) << size;
    ASSERT_EQ(archived(target), before) << size;
  }
  Bytes newer = bytes;
  newer[0] = 2;
  kcArchive in(newer.data(), newer.size());
  try {
    in || target;
    ADD_FAILURE() << "no throw";
  } catch (const kcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.file(), "blob/blobtool");
    EXPECT_GT(e.line(), 0);
  }
  EXPECT_EQ(archived(target), before);
}

}  // namespace
