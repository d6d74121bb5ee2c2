// Tests of kcBlobParams: setter checks and their order, getters per segmentation, copies, archive.
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <gtest/gtest.h>

#include <functional>
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

// The segmentation getters, each writing what it answers.
using Getter = std::function<void(const kcBlobParams&, std::ostream&)>;
const std::pair<const char*, Getter> kGetters[] = {
    {"map", [](auto& p, auto& os) { os << std::string(p.map().begin(), p.map().end()); }},
    {"postMap", [](auto& p, auto& os) { os << std::string(p.postMap().begin(), p.postMap().end()); }},
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
  os << p.segmentationType() << ' ' << +p.scaleVal();
  for (const auto& [name, get] : kGetters) {
    try {
      get(p, os << ' ');
    } catch (const kcBlobDefs::BadParams&) {
      os << '-';
    }
  }
  os << ' ' << p.keepRLE() << p.keepMasked() << p.keepMorphed() << p.useMaskForInterior() << ' '
     << p.connectivityType() << p.connectivityCleanup() << p.connectivityMinPels() << ' ' << p.morph().size()
     << p.mask().width() << p.mask().numRuns();
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
      {[](auto& p) { hard(p, 0, 101, 101); }, Msg::eHiTailRange},
      {[](auto& p) { hard(p, 60, 60, 101); }, Msg::eThreshPercentRange},
      {[](auto& p) { hard(p, 50, 51, 0); }, Msg::eTailSum},
      {[](auto& p) { soft(p, 20, 20, 0); }, Msg::eLowNotBelowHigh},
      {[](auto& p) { soft(p, 10, 20, 11); }, Msg::eSoftnessAboveRange},
      {[](auto& p) { soft(p, 0, 255, 255); }, Msg::eSoftnessMax},
      {[](auto& p) { softPercent(p, -1, 102, 200, -5, 255); }, Msg::eLowTailRange},
      {[](auto& p) { softPercent(p, 0, 0, 101, -5, 255); }, Msg::eLowThreshPercentRange},
      {[](auto& p) { softPercent(p, 60, 60, 0, -1, 255); }, Msg::eHiThreshPercentRange},
      {[](auto& p) { softPercent(p, 50, 51, 60, 40, 255); }, Msg::eTailSum},
      {[](auto& p) { softPercent(p, 50, 50, 60, 40, 255); }, Msg::eThreshPercentOrder},
      {[](auto& p) { softPercent(p, 0, 0, 40, 40, 255); }, Msg::eSoftnessMax},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    kcBlobParams p = configured();
    expectRefused(p, cases[i].first, cases[i].second);
  }
}

// ---- Each segmentation kind: getters, archive and copies

// Per getter of kGetters: '.' where it answers, else the index of its refusal's message.
const std::tuple<const char*, Call, const char*> kKinds[] = {
    {"none", [](auto& p) { p.setSegmentationNone(2); }, "0123345677"},
    {"map", [](auto& p) { p.setSegmentationMap({1}, 2); }, ".123345677"},
    {"hard", [](auto& p) { p.setSegmentationHardThresh(9, false); }, "012..45.88"},
    {"hard %", [](auto& p) { hard(p, 50, 50, 100); }, "012..45..."},  // at the boundaries
    {"soft", [](auto& p) { soft(p, 0, 255, 254); }, "012.....88"},
    {"soft %", [](auto& p) { softPercent(p, 0, 100, 40, 40, 254); }, "012......."},
    {"image", [](auto& p) { p.setSegmentationThreshImage({}, picture(1, 1, 0), {}, 2); }, "...3345677"},
};

// Fields of every kind hold values (configured()); the getters of the kind set answer, the others
// refuse; the registry's archive, a copy and an assignment give back every field. (Truncated and
// newer archives: the corpus test.)
TEST(BlobParamsKinds, BlobParamsKinds_each_meaningfulGettersArchiveAndCopiesWhole) {
  for (const auto& [name, set, getters] : kKinds) {
    auto original = std::make_unique<kcBlobParams>(configured());
    set(*original);
    for (std::size_t g = 0; g < std::size(kGetters); ++g) {
      SCOPED_TRACE(std::string(name) + " / " + kGetters[g].first);
      std::ostringstream sink;
      const Call get = [&](kcBlobParams& q) { kGetters[g].second(q, sink); };
      if (getters[g] == '.') EXPECT_NO_THROW(get(*original));
      else expectRefused(*original, get, static_cast<Msg::Tool>(getters[g] - '0'));
    }
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
    kcBlobParams copy(*original), assigned;
    assigned = *original;
    for (const kcBlobParams* same : {params, &copy, &assigned}) {
      EXPECT_EQ(describe(*same), describe(*original)) << name;
      EXPECT_EQ(archived(*same), archived(*original)) << name;  // the hidden fields as well
      EXPECT_TRUE(same->mask() == original->mask()) << name;
    }
  }
}

}  // namespace
