// Test helpers of the archive tests: stored bytes, corpus seeds, scenes analysed from text
// pictures, a fingerprint of everything a scene answers, to compare a scene with its archived
// copy, and an object of a class no scene or blob points to.
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
#include <fstream>
#include <iterator>
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
using archive_bytes::storedValue;

// load(bytes, object): object loaded in place from bytes; returns the bytes left unread.
template <class T>
std::size_t load(const Bytes& bytes, T& object) {
  kcArchive in(bytes.data(), bytes.size());
  in || object;
  return in.remaining();
}

// find(bytes, pattern): the offset of the first occurrence of pattern (bytes or text); fails the
// test when absent.
inline std::size_t find(const Bytes& bytes, const Bytes& pattern) {
  auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
  EXPECT_NE(at, bytes.end()) << "pattern not found";
  return static_cast<std::size_t>(at - bytes.begin());
}
inline std::size_t find(const Bytes& bytes, const std::string& text) { return find(bytes, Bytes(text.begin(), text.end())); }

// seed(name): the bytes of the fuzzer's corpus file name.
inline Bytes seed(const std::string& name) {
  std::ifstream in(std::string(BLOB_FUZZ_CORPUS "/") + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// kRing: the ring of picture(), blob 2 of a grey-scale scene.
constexpr long kRing = 2;

// picture(): blobs, holes, a blob inside a hole, weighted pels.
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

// paramsObject(): a pointer to a new object of a class no scene or blob points to: parameters.
inline Bytes paramsObject() {
  Bytes bytes{1, 12, 0, 0, 0, 'k', 'c', 'B', 'l', 'o', 'b', 'P', 'a', 'r', 'a', 'm', 's'};
  kcBlobParams params;
  kcArchive out(bytes, kcArchive::eStoring);  // appends the object's body
  out || params;
  return bytes;
}

}  // namespace archive_fixture
