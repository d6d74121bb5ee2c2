// Test helpers of the archive tests: stored bytes, scenes analysed from text pictures, and a
// fingerprint of everything a scene answers, to compare a scene with its archived copy.
#pragma once

#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <graphics/graphic.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "blob/connect/connect_fixture.h"
#include "platform/foundation/archive_bytes.h"
#include "store/bsd_data.h"
#include "scene/scene_builder.h"

namespace archive_fixture {

using archive_bytes::Bytes;
using archive_bytes::stored;

// load(bytes, object): object loaded in place from bytes; returns the bytes left unread.
template <class T>
std::size_t load(const Bytes& bytes, T& object) {
  kcArchive in(bytes.data(), bytes.size());
  in || object;
  return in.remaining();
}

// find(bytes, text): the offset of the first occurrence of text; fails the test when absent.
inline std::size_t find(const Bytes& bytes, const std::string& text) {
  const Bytes pattern(text.begin(), text.end());
  auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
  EXPECT_NE(at, bytes.end()) << text;
  return static_cast<std::size_t>(at - bytes.begin());
}

// kPicture: blobs, holes, a blob inside a hole, weighted pels.
inline const connecttest::Grid& picture() {
  static const connecttest::Grid g = connecttest::draw({
      "..........##.",
      ".######...##.",
      ".#....#......",
      ".#.##.#..3...",
      ".#....#.333..",
      ".######..3...",
      "........2....",
  });
  return g;
}

// analysed(kind): a scene of picture() after an analysis of that kind.
inline kcBlobSceneDescription analysed(kcBlobSceneDescription::Analysis kind) {
  kcBlobSceneDescription scene;
  const kcRLEBuffer image = connecttest::encode(picture(), {3, -2});
  if (kind == kcBlobSceneDescription::eLabelled)
    scene.connectComponentsLabelled(image, kcBlobSceneDescription::eNone, 0);
  else
    scene.connectComponentsGreyScale(image, 2, kind == kcBlobSceneDescription::eWholeImageGreyScale,
                                     kcBlobSceneDescription::eNone, 0);
  return scene;
}

// withSettings(scene): a filter, a sort, an extrema exclusion and angle, a client transform with
// a rotation and a translation.
inline void withSettings(kcBlobSceneDescription& scene) {
  scene.setFilter(kcBlob::eArea, 0.5, 1000.0, false);
  scene.setFilter(kcBlob::eCenterOfMassX, -5.0, -4.0, true);
  scene.setSort(kcBlob::eCenterOfMassY, kcBlobSceneDescription::eAscending);
  scene.extremaExcludeAreaPels(0.5);
  scene.extremaAngle(kcRadian(0.3));
  scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(0.0, -2.0, 1.5, 0.0), kcVector<2>(7.0, -1.0)));
}

// Fingerprint: what a scene answers, as comparable bits.
class Fingerprint {
 public:
  void add(double v) { bits_.push_back(std::bit_cast<std::uint64_t>(v)); }
  void add(long v) { bits_.push_back(static_cast<std::uint64_t>(v)); }
  void add(const kcVector<2>& v) { add(v.x()), add(v.y()); }
  void add(const kcPelRect& r) { add(r.ul().x()), add(r.ul().y()), add(r.width()), add(r.height()); }
  void add(const kcBlob* b) { add(b ? b->id() : 0L); }
  void failed(const kcException& e) { bits_.push_back(0xE000000000000000ull | static_cast<std::uint64_t>(e.errorNumber())); }
  bool operator==(const Fingerprint&) const = default;
  const std::vector<std::uint64_t>& bits() const { return bits_; }

 private:
  std::vector<std::uint64_t> bits_;
};

// answers(blob, print): every measure, the chain, the links both ways.
inline void answers(const kcBlob& b, Fingerprint& print) {
  print.add(b.id());
  print.add(static_cast<long>(b.label()));
  print.add(b.imageBoundingBox());
  for (int m = 0; m <= 42; ++m) {
    try {
      print.add(b.measure(static_cast<kcBlob::Measure>(m)));
    } catch (const kcException& e) {
      print.failed(e);
    }
  }
  try {
    std::vector<keBlobDirection> code;
    const kcPair<long> start = b.boundaryChainCode(code);
    print.add(start.x()), print.add(start.y());
    for (keBlobDirection d : code) print.add(static_cast<long>(d));
  } catch (const kcException& e) {
    print.failed(e);
  }
  print.add(b.parent());
  for (bool shown : {false, true}) {
    print.add(b.nextSibling(shown)), print.add(b.prevSibling(shown));
    print.add(b.firstChild(shown)), print.add(b.lastChild(shown)), print.add(b.numChildren(shown));
  }
}

// answers(scene): everything the scene and its blobs answer, views included.
inline Fingerprint answers(const kcBlobSceneDescription& scene) {
  Fingerprint print;
  print.add(static_cast<long>(scene.isDegenerate()));
  print.add(scene.numFilters());
  for (long i = 0; i < scene.numFilters(); ++i) {
    kcBlob::Measure m;
    double low, high;
    bool exclude;
    scene.getFilter(i, m, low, high, exclude);
    print.add(static_cast<long>(m)), print.add(low), print.add(high), print.add(static_cast<long>(exclude));
  }
  kcBlob::Measure sortMeasure = kcBlob::eLabel;
  kcBlobSceneDescription::SortOrder order = kcBlobSceneDescription::eDescending;
  print.add(static_cast<long>(scene.getSort(sortMeasure, order))), print.add(long{sortMeasure}), print.add(long{order});
  bool isClient = false, isPercent = false;
  print.add(scene.extremaExcludeArea(isClient, isPercent));
  print.add(static_cast<long>(isClient)), print.add(static_cast<long>(isPercent));
  print.add(scene.extremaAngle().toDouble());
  const kcXform<2> x = scene.clientFromImageXform();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) print.add(x.matrix().element(r, c));
  print.add(x.trans());
  if (scene.isDegenerate()) return print;
  print.add(static_cast<long>(scene.connectivityKind()));
  print.add(scene.sceneWindow());
  for (bool shown : {false, true}) {
    print.add(scene.numBlobs(shown));
    print.add(scene.firstTop(shown)), print.add(scene.lastTop(shown));
    for (const kcBlob* b : scene.allBlobs(shown)) answers(*b, print);
    const kcPelBuffer<unsigned char> image = scene.makeImage(shown, 7);
    for (long y = 0; y < image.height(); ++y)
      for (long c = 0; c < image.width(); ++c) print.add(static_cast<long>(image.pointToRow(y)[c]));
  }
  return print;
}

// mutations(scene): each blob's notice count, to tell that queries filled no cache.
inline std::vector<std::uint64_t> mutations(const kcBlobSceneDescription& scene) {
  std::vector<std::uint64_t> counts;
  for (const kcBlob* b : scene.allBlobs(false)) counts.push_back(b->mutationCount());
  return counts;
}

}  // namespace archive_fixture
