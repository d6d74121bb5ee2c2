// The scene drawn: its blobs rendered into a label image, and into a graphic list.
#include <blob/blobdesc.h>

#include "store/blob_parts.h"
#include "store/bsd_data.h"

#include <foundation/pelfill.h>

#include <numeric>
#include <string>

kcPelBuffer<unsigned char> kcBlobSceneDescription::makeImage(bool shown, unsigned char background) const {
  checkDegenerate();
  const bool labelled = data_->connectivityKind == eLabelled;
  // A foreground region paints its own values (grey kinds) or its label through a [0, label] map;
  // a hole's region values are 1, painted as 0. The skip value leaves the pels outside the region.
  std::vector<unsigned char> identity(256);
  std::iota(identity.begin(), identity.end(), static_cast<unsigned char>(0));
  std::vector<unsigned char> labelMap{0, 0};
  const std::vector<unsigned char> holeMap{1, 0};

  const std::vector<const kcBlob*> blobs = allBlobs(shown);
  const kcPelRect window = data_->sceneWindow;
  kcPelBuffer<unsigned char> image(window.width(), window.height(), 32);
  image.offset(window.ul());
  kfPelSet(image, background);
  // Each region is a passing view of the scene's rows: painting every blob caches no region.
  for (const kcBlob* blob : blobs) {
    const kcRLEBuffer region = kf_RegionView(data_->store, static_cast<BlobId>(blob->id()));
    const unsigned char label = blob->label();
    if (label == 0) {
      kfPelCombine_U8(image, region, kcPair<long>(0, 0), holeMap, 1);
    } else if (labelled) {
      labelMap[1] = label;
      kfPelCombine_U8(image, region, kcPair<long>(0, 0), labelMap, 0);
    } else {
      kfPelCombine_U8(image, region, kcPair<long>(0, 0), identity, 0);
    }
  }
  image.copyXforms(data_->xformCache);
  return image;
}

void kcBlobSceneDescription::draw(kcGraphicList& list, unsigned long flags, bool shown) const {
  const std::vector<const kcBlob*> blobs = allBlobs(shown);
  for (std::size_t i = 0; i < blobs.size(); ++i) blobs[i]->draw(list, flags, std::to_wstring(i));
}
