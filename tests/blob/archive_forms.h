// Archive forms written value by value, as the tests and the fuzzing corpus need them: scene
// data of every version, blobs of every version with records of every version.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/archive.h>
#include <foundation/geometry.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <functional>
#include <string>
#include <vector>

#include "blob/connect/connect_fixture.h"
#include "persist.h"

namespace archive_forms {

using Bytes = std::vector<unsigned char>;
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
  std::function<void(kcArchive&)> writeBlobs;  // the blobs after their count; none when empty
  std::vector<long> topIds;
  unsigned long filterCount = 1;
  std::vector<kcBlobFilter> filters = std::vector<kcBlobFilter>(1, kcBlobFilter{kcBlob::ePerimeter, 1.0, 2.0, true});
  int counters = 9;
  bool sortSet = true, sortDisabled = false;
  int order = Scene::eAscending;
  double area = 3.0;
  bool isPercent = false;

  Bytes bytes() const {
    Bytes out;
    kcArchive ar(out, kcArchive::eStoring);
    unsigned char zero = 0, v = version, persistent = 0, tag = 1;
    bool flag = degenerate;
    std::string name = "kc_BSDData";
    unsigned int length = 10;
    ar || zero || persistent || flag || tag || length;
    ar.writeBytes(name.data(), name.size());
    ar || v || persistent;
    int k = kind, c = cleanup;
    unsigned char scale = scaleValue;
    long minimum = minPels;
    ar || k || scale || c || minimum;
    kcPelRect w = window;
    kf_PersistenceHelper<long>(ar, w);
    kcXform<2> x = clientFromImage;
    if (version == 0) {
      ar || x;
    } else {
      kc2XformCache cache;
      cache.xformInverse(kc2XformLinear(x));
      bool linear = true;
      ar || cache || linear;
    }
    bool identity = false;
    double scales = 2.0;
    long counter = 5;
    ar || identity || identity || scales || scales || scales || scales || scales || counter || counter;
    unsigned long none = 0, blobs = blobCount;
    ar || zero || blobs;
    if (writeBlobs) writeBlobs(ar);
    std::vector<long> top = topIds;
    ar || zero || none;
    kc_Persist::vector(ar, top);
    ar || zero || none;
    int view = counters;
    ar || view || view || view;
    unsigned long count = filterCount;
    ar || zero || count;
    for (kcBlobFilter f : filters) {
      int measure = f.measure;
      ar || measure || f.low || f.high || f.exclude;
    }
    bool set = sortSet, disabled = sortDisabled;
    ar || set;
    if (version >= 2) ar || disabled;
    int sortMeasure = kcBlob::eArea, sortOrder = order;
    double excluded = area, angle = 0.25;
    bool isClient = true, percent = isPercent;
    ar || sortMeasure || sortOrder || excluded || isClient || percent || angle;
    if (version >= 3) {
      kcRLEBuffer mask = connecttest::encode(connecttest::draw({"##", "#."}));
      ar || mask;
    }
    return out;
  }
};

// Record: the record's fields as a test writes them (every cache unknown unless set).
struct Record {
  unsigned char version = 3;
  long parent = 0, next = 0, prev = 0;
  std::vector<long> children, shownChildren;
  long nextShown = 0, prevShown = 0;
  std::vector<keBlobDirection> chain;
  kcPair<long> chainStart{0, 0};
  std::vector<unsigned long> rows;
  long pelCount = -1;
  long steps[3] = {0, 0, 0};
  bool interior = false, interiorValid = false;
  unsigned char pairVersion = 0;

  void write(kcArchive& ar) const {
    unsigned char v = version, zero = 0, pv = pairVersion;
    long shownStamp = -1, never = -1, none = 0;
    ar || v;
    if (version >= 3) {
      long firstChild = children.empty() ? 0 : children[0], numChildren = static_cast<long>(children.size());
      long firstShown = shownChildren.empty() ? 0 : shownChildren[0];
      long numShown = static_cast<long>(shownChildren.size());
      ar || const_cast<long&>(parent) || const_cast<long&>(next) || const_cast<long&>(prev) || firstChild || numChildren;
      ar || const_cast<long&>(nextShown) || const_cast<long&>(prevShown) || firstShown || numShown;
    } else {
      ar || const_cast<long&>(parent) || const_cast<long&>(next) || const_cast<long&>(prev);
      std::vector<long> c = children, s = shownChildren;
      kc_Persist::vector(ar, c);
      ar || const_cast<long&>(nextShown) || const_cast<long&>(prevShown);
      kc_Persist::vector(ar, s);
    }
    ar || shownStamp;
    std::vector<keBlobDirection> code = chain;
    kc_Persist::vector(ar, code);
    kcPair<long> start = chainStart;
    ar || pv || start.first || start.second;
    std::vector<unsigned long> r = rows, empty;
    kc_Persist::vector(ar, r);
    kc_Persist::vector(ar, empty);
    kc_Persist::vector(ar, empty);
    double d = 0.0;
    bool no = false;
    long pels = pelCount, h = steps[0], vs = steps[1], c = steps[2];
    ar || pels || d || no || h || vs || c || d || never;  // area, steps, perimeter
    ar || d || no || d || no;                            // centroid
    kcVector<2> point;
    ar || point || never;                                // centre of mass
    ar || d || no || d || no || d || no;                 // second moments
    ar || zero || d || d || never;                       // inertia
    ar || d || zero || d || d || never;                  // angle, principal moments
    ar || d || never;                                    // acircularity
    kcRectangle<double> box;
    kf_PersistenceHelper<double>(ar, box);
    ar || point || never || d || d || point || no;       // extents
    if (version >= 1) {
      kcXform<2> x;
      ar || never || x || d || d || d || d || d;
    }
    if (version >= 2) ar || const_cast<bool&>(interior) || const_cast<bool&>(interiorValid);
    (void)none;
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

}  // namespace archive_forms
