// Test helpers of the archive tests: stored bytes, scenes analysed from text pictures, a
// fingerprint of everything a scene answers, to compare a scene with its archived copy, and
// archive forms written value by value: scene data of every version, blobs of every version with
// records of the current one.
#pragma once

#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/geometry.h>
#include <foundation/persist.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "blob/connect/connect_fixture.h"
#include "fuzz/archive_exercise.h"
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

// Fingerprint: what a scene or blob answers (archive_exercise::ask), to compare them bit by bit.
using Fingerprint = archive_exercise::Answers;

inline void answers(const kcBlob& b, Fingerprint& print) { archive_exercise::ask(b, print); }

inline Fingerprint answers(const kcBlobSceneDescription& scene) {
  Fingerprint print;
  archive_exercise::ask(scene, print);
  return print;
}

// mutations(scene): each blob's notice count, to tell that queries filled no cache.
inline std::vector<std::uint64_t> mutations(const kcBlobSceneDescription& scene) {
  std::vector<std::uint64_t> counts;
  for (const kcBlob* b : scene.allBlobs(false)) counts.push_back(b->mutationCount());
  return counts;
}

}  // namespace archive_fixture

namespace archive_forms {

using archive_bytes::Bytes;
using Scene = kcBlobSceneDescription;

// kRing: the ring of archive_fixture::picture(), blob 2 of a grey-scale scene.
constexpr long kRing = 2;

// DataForm: a scene with data of any version written value by value: no blobs (the count is
// written as given), one filter unless told otherwise.
struct DataForm {
  unsigned char version = 3;
  kcXform<2> clientFromImage{kcMatrix<2>(2.0, 0.0, 0.0, 2.0), kcVector<2>(1.0, 0.0)};
  bool degenerate = true;
  int kind = Scene::eLabelled, cleanup = Scene::eNone;
  unsigned char scaleValue = 1;
  long minPels = 0;
  kcPelRect window{0, 0, 4, 3};
  unsigned long blobCount = 0;
  std::vector<long> topIds;
  unsigned long filterCount = 1;
  std::vector<kcBlobFilter> filters = std::vector<kcBlobFilter>(1, kcBlobFilter{kcBlob::ePerimeter, 1.0, 2.0, true});
  int counters = 9;
  bool sortSet = true, sortDisabled = false;
  int order = Scene::eAscending;
  double area = 3.0;
  bool isPercent = false;

  Bytes bytes() const {
    DataForm f = *this;  // the archive takes values by reference
    Bytes out;
    kcArchive ar(out, kcArchive::eStoring);
    unsigned char zero = 0, tag = 1;
    unsigned int length = 10;
    ar || zero || zero || f.degenerate || tag || length;
    ar.writeBytes("kc_BSDData", length);
    ar || f.version || zero || f.kind || f.scaleValue || f.cleanup || f.minPels;
    kf_PersistenceHelper<long>(ar, f.window);
    if (version == 0) {
      ar || f.clientFromImage;
    } else {
      kc2XformCache cache;
      cache.xformInverse(kc2XformLinear(clientFromImage));
      bool linear = true;
      ar || cache || linear;
    }
    bool identity = false, isClient = true;
    double scales = 2.0, angle = 0.25;
    long counter = 5;
    unsigned long none = 0;
    ar || identity || identity || scales || scales || scales || scales || scales || counter || counter;
    ar || zero || f.blobCount;
    ar || zero || none;
    kc_Persist::vector(ar, f.topIds);
    ar || zero || none || f.counters || f.counters || f.counters || zero || f.filterCount;
    for (kcBlobFilter& filter : f.filters) {
      int measure = filter.measure;
      ar || measure || filter.low || filter.high || filter.exclude;
    }
    ar || f.sortSet;
    if (version >= 2) ar || f.sortDisabled;
    int sortMeasure = kcBlob::eArea;
    ar || sortMeasure || f.order || f.area || isClient || f.isPercent || angle;
    if (version >= 3) {
      kcRLEBuffer mask = connecttest::encode(connecttest::draw({"##", "#."}));
      ar || mask;
    }
    return out;
  }
};

// Record: a record of the current version (older versions: the corpus seeds) as a test writes
// them, every cache unknown unless set.
struct Record {
  unsigned char version = 3;
  long parent = 0, next = 0, prev = 0;
  std::vector<long> children;
  long prevShown = 0;
  std::vector<keBlobDirection> chain;
  kcPair<long> chainStart{0, 0};
  std::vector<unsigned long> rows;
  long pelCount = -1;
  long steps[3] = {0, 0, 0};
  double perimeter = 0.0;
  long perimeterStamp = -1;
  unsigned char pairVersion = 0;

  void write(kcArchive& ar) const {
    Record r = *this;  // the archive takes values by reference
    unsigned char zero = 0;
    long none = 0, never = -1;
    long firstChild = children.empty() ? 0 : children[0], numChildren = static_cast<long>(children.size());
    ar || r.version || r.parent || r.next || r.prev || firstChild || numChildren;
    ar || none || r.prevShown || none || none || never;  // shown links, their stamp
    kc_Persist::vector(ar, r.chain);
    ar || r.pairVersion || r.chainStart.first || r.chainStart.second;
    std::vector<unsigned long> empty;
    kc_Persist::vector(ar, r.rows);
    kc_Persist::vector(ar, empty);
    kc_Persist::vector(ar, empty);
    double d = 0.0;
    bool no = false;
    ar || r.pelCount || d || no || r.steps[0] || r.steps[1] || r.steps[2];             // area, steps
    ar || r.perimeter || r.perimeterStamp;
    ar || d || no || d || no;                                                          // centroid
    kcVector<2> point;
    ar || point || never;                                                              // centre of mass
    ar || d || no || d || no || d || no;                                               // second moments
    ar || zero || d || d || never;                                                     // inertia
    ar || d || zero || d || d || never;                                                // angle, principal moments
    ar || d || never;                                                                  // acircularity
    kcRectangle<double> box;
    kf_PersistenceHelper<double>(ar, box);
    ar || point || never || d || d || point || no;                                     // extents
    kcXform<2> x;
    ar || never || x || d || d || d || d || d || no || no;                               // transform, interior
  }
};

// BlobForm: a blob of a scene archived earlier in the same archive (index 0), written value by
// value: blob version 1 with a record, or version 0 with a legacy kc_BlobData.
struct BlobForm {
  unsigned char version = 1;
  unsigned char sceneTag = 2;        // a back-reference (to sceneIndex), or 0 for none
  unsigned int sceneIndex = 0;
  long id = kRing;
  unsigned char legacyVersion = 0;
  Record record;

  // bytes(scene, blob, copies): scene in place, then blob's form copies times.
  Bytes bytes(Scene& scene, const kcBlob& blob, int copies = 1) const {
    Bytes out;
    kcArchive ar(out, kcArchive::eStoring);
    ar || scene;
    // Objects archived in place are told apart by address: each region its own.
    std::vector<kcRLEBuffer> regions(static_cast<std::size_t>(copies), blob.region());
    for (kcRLEBuffer& region : regions) write(ar, blob, region);
    return out;
  }

  void write(kcArchive& ar, const kcBlob& blob, kcRLEBuffer& region) const {
    unsigned char v = version, zero = 0, tag = sceneTag, label = blob.label();
    unsigned int index = sceneIndex;
    long blobId = id;
    kcPelRect rect = blob.imageBoundingBox();
    ar || v || zero || tag;
    if (tag == 2) ar || index;
    ar || blobId || label;
    kf_PersistenceHelper<long>(ar, rect);
    ar || region;
    if (version >= 1) {
      record.write(ar);
    } else {
      unsigned char newObject = 1, lv = legacyVersion;
      std::string name = "kc_BlobData";
      unsigned int length = static_cast<unsigned int>(name.size());
      ar || newObject || length;
      ar.writeBytes(name.data(), name.size());
      ar || lv || zero;
    }
  }
};

// ownRegions(blob, n): n copies of blob's region, each with a transform of its own: the writer's
// table of objects does not count the parts a test writes by hand, so none may be referred back to.
inline std::vector<kcRLEBuffer> ownRegions(const kcBlob& blob, std::size_t n) {
  std::vector<kcRLEBuffer> regions(n, blob.region());
  for (kcRLEBuffer& region : regions) {
    kc2XformCache own;
    own.xform(kc2XformLinear(kcXform<2>()));
    region.copyXforms(own);
  }
  return regions;
}

// paramsObject(): a pointer to a new object of a class no scene or blob points to: parameters.
inline Bytes paramsObject() {
  Bytes bytes{1, 12, 0, 0, 0, 'k', 'c', 'B', 'l', 'o', 'b', 'P', 'a', 'r', 'a', 'm', 's'};
  kcBlobParams params;
  kcArchive out(bytes, kcArchive::eStoring);  // appends the object's body
  out || params;
  return bytes;
}

}  // namespace archive_forms
