// Test helpers of the measure tests: grids analysed into grey-scale scenes, and random grids.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/xform.h>

#include <cmath>
#include <random>

#include "connect/connect_fixture.h"

namespace measuretest {

using connecttest::draw;
using connecttest::encode;
using connecttest::Grid;
using Scene = kcBlobSceneDescription;

// analysed(g, at, scale, wholeImage): a grey-scale scene of g with its first pel at image position at.
inline Scene analysed(const Grid& g, kcPair<long> at = {0, 0}, unsigned char scale = 1, bool wholeImage = false) {
  Scene scene;
  scene.connectComponentsGreyScale(encode(g, at), scale, wholeImage, Scene::eNone, 0);
  return scene;
}

// randomPels(rng, width, height, percentSet, values): each pel set with that chance, to 1..values.
inline Grid randomPels(std::mt19937& rng, int width, int height, unsigned percentSet, unsigned values) {
  Grid g{width, height, {}};
  for (int p = 0; p < width * height; ++p)
    g.pels.push_back(static_cast<std::uint8_t>(rng() % 100 < percentSet ? 1 + rng() % values : 0));
  return g;
}

}  // namespace measuretest
