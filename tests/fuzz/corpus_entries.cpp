// The fuzzer's seed corpus: scenes of every analysis and data version, blobs of both versions with
// records of every version, parameters of both versions, results, images and transforms.
#include "corpus_entries.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include "blob/archive_fixture.h"
#include "blob/archive_forms.h"

namespace archive_corpus {
namespace {

using Bytes = std::vector<unsigned char>;
using Scene = kcBlobSceneDescription;
using archive_fixture::stored;

// blobAlone(form, blob): form written for a blob with no scene.
Bytes blobAlone(archive_forms::BlobForm form, const kcBlob& blob) {
  form.sceneTag = 0;
  Bytes out;
  kcArchive ar(out, kcArchive::eStoring);
  kcRLEBuffer region = blob.region();
  form.write(ar, blob, region);
  return out;
}

void addScenes(std::vector<std::pair<std::string, Bytes>>& out) {
  const std::pair<const char*, Scene::Analysis> kinds[] = {
      {"grey", Scene::eGreyScale}, {"labelled", Scene::eLabelled}, {"whole", Scene::eWholeImageGreyScale}};
  for (const auto& [name, kind] : kinds) {
    Scene scene = archive_fixture::analysed(kind);
    out.emplace_back(std::string("scene-v3-") + name + "-fresh.bin", stored(scene));
    archive_fixture::withSettings(scene);
    archive_fixture::answers(scene);
    out.emplace_back(std::string("scene-v3-") + name + "-queried.bin", stored(scene));
  }
  Scene degenerate;
  archive_fixture::withSettings(degenerate);
  out.emplace_back("scene-v3-degenerate.bin", stored(degenerate));
  for (unsigned char version = 0; version <= 3; ++version) {
    archive_forms::DataForm form;
    form.version = version;
    out.emplace_back("scene-data-v" + std::to_string(version) + ".bin", form.bytes());
  }
  // Blobs of the oldest form in an analysed scene, each region with a transform of its own.
  Scene source = archive_fixture::analysed(Scene::eGreyScale);
  const kcBlob& ring = *source.getBlob(archive_forms::kRing);
  std::vector<kcRLEBuffer> regions(2, ring.region());
  for (kcRLEBuffer& region : regions) {
    kc2XformCache own;
    own.xform(kc2XformLinear(kcXform<2>()));
    region.copyXforms(own);
  }
  archive_forms::DataForm legacy;
  legacy.degenerate = false;
  legacy.kind = Scene::eGreyScale;
  legacy.scaleValue = 2;
  legacy.window = source.sceneWindow();
  legacy.blobCount = 2;
  legacy.topIds = {2};
  legacy.writeBlobs = [&](kcArchive& ar) {
    for (long id : {1L, 2L}) {
      archive_forms::BlobForm blob;
      blob.version = 0;
      blob.id = id;
      blob.write(ar, ring, regions[static_cast<std::size_t>(id - 1)]);
    }
  };
  out.emplace_back("scene-data-v3-oldest-blobs.bin", legacy.bytes());
}

void addBlobs(std::vector<std::pair<std::string, Bytes>>& out) {
  Scene scene = archive_fixture::analysed(Scene::eGreyScale);
  kcBlob fresh(*scene.getBlob(archive_forms::kRing));
  out.emplace_back("blob-v1-fresh.bin", stored(fresh));
  archive_fixture::withSettings(scene);
  archive_fixture::answers(scene);
  kcBlob queried(*scene.getBlob(archive_forms::kRing));
  out.emplace_back("blob-v1-queried.bin", stored(queried));
  kcBlob empty;
  out.emplace_back("blob-v1-never-filled.bin", stored(empty));
  const kcBlob& ring = *scene.getBlob(archive_forms::kRing);
  archive_forms::BlobForm legacy;
  legacy.version = 0;
  out.emplace_back("blob-v0.bin", blobAlone(legacy, ring));
  for (unsigned char version = 0; version <= 3; ++version) {
    archive_forms::BlobForm form;
    form.record.version = version;
    out.emplace_back("blob-v1-record-v" + std::to_string(version) + ".bin", blobAlone(form, ring));
  }
}

void addTool(std::vector<std::pair<std::string, Bytes>>& out) {
  kcBlobParams none;
  none.morph({eMorphClose0, eMorphOpen2});
  none.mask(connecttest::encode(connecttest::draw({"##.", "###"})));
  none.connectivityCleanup(Scene::ePrune);
  none.connectivityMinPels(2);
  out.emplace_back("params-v1-none.bin", stored(none));
  kcBlobParams soft;
  soft.setSegmentationSoftThresh(10, 50, 20, 30, 4, true);
  soft.connectivityType(Scene::eLabelled);
  out.emplace_back("params-v1-soft-percent.bin", stored(soft));
  kcBlobParams image;
  kcPelBuffer<unsigned char> thresholds(3, 2);
  image.setSegmentationThreshImage({0, 1, 2}, kcPelBuffer_const<unsigned char>(thresholds), {5, 6}, 2);
  image.useMaskForInterior(true);
  Bytes version0 = stored(image);
  out.emplace_back("params-v1-thresh-image.bin", version0);
  version0[0] = 0;  // version 0: the version-1 form without its last field
  version0.pop_back();
  out.emplace_back("params-v0.bin", version0);

  kcBlobResults empty;
  out.emplace_back("results-empty.bin", stored(empty));
  kcBlobResults analysed;
  kcBlobParams keep;
  keep.keepRLE(true);
  keep.keepMorphed(true);
  keep.morph({eMorphDilate1});
  kfBlobAnalysis(connecttest::encode(archive_fixture::picture()), keep, analysed);
  out.emplace_back("results-with-scene.bin", stored(analysed));
}

void addPlatform(std::vector<std::pair<std::string, Bytes>>& out) {
  kcPelBuffer<unsigned char> pels(5, 3);
  pels.pointToRow(1)[2] = 200;
  out.emplace_back("pel-small.bin", stored(pels));
  kcPelBuffer<unsigned char> columnless(0, 9);
  out.emplace_back("pel-no-columns.bin", stored(columnless));
  kcRLEBuffer runs = connecttest::encode(archive_fixture::picture(), {-4, 7});
  out.emplace_back("rle-picture.bin", stored(runs));
  kc2XformCache linear;
  linear.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(0.0, 2.0, -1.0, 0.5), kcVector<2>(3.0, 4.0))));
  out.emplace_back("xform-linear.bin", stored(linear));
  kc2XformCache perspective;
  perspective.xformInverse(kc2XformPerspective(kc2XformPerspective::Elements{1.0, 0.1, 2.0, 0.0, 1.0, -1.0, 0.001, 0.002, 1.0}));
  out.emplace_back("xform-projective.bin", stored(perspective));
}

}  // namespace

std::vector<std::pair<std::string, Bytes>> entries() {
  std::vector<std::pair<std::string, Bytes>> out;
  addScenes(out);
  addBlobs(out);
  addTool(out);
  addPlatform(out);
  return out;
}

}  // namespace archive_corpus
