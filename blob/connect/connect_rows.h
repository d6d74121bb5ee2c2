// The maker of a scene's blob rows on demand: the connectivity engine run again over the image.
#pragma once

#include "connect/connect_engine.h"

#include <memory>

// kf_EngineRowMaker(image, labelled, cleanup, minPels): a maker that writes the rows of the blobs
// an analysis of image with these settings gave, by running it again with every run's label
// recorded. Keeps a copy of image (sharing its runs). Allocates.
std::shared_ptr<const kc_RowMaker> kf_EngineRowMaker(const kcRLEBuffer& image, bool labelled,
                                                     kc_CleanupKind cleanup, PelCount minPels);
