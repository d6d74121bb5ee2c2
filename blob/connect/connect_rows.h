// The makers of a scene's blob rows on demand (the connectivity engine run again over the image
// the scene keeps), and the restoring of a scene's blobs from them when a later analysis fails.
#pragma once

#include "connect/connect_engine.h"

#include <cstdint>
#include <memory>
#include <vector>

// kf_PutSpan(bytes, value, length): a span of a row as two-byte runs (value, length) of at most 255
// pels each, appended to bytes.
inline void kf_PutSpan(std::vector<unsigned char>& bytes, unsigned char value, std::uint64_t length) {
  for (; length > 255; length -= 255) {
    bytes.push_back(value);
    bytes.push_back(255);
  }
  if (length != 0) {
    bytes.push_back(value);
    bytes.push_back(static_cast<unsigned char>(length));
  }
}

// kc_EngineSettings: how the engine ran for an analysis.
struct kc_EngineSettings {
  bool labelled = false;
  kc_CleanupKind cleanup = kc_CleanupKind::eNone;
  PelCount minPels = 0;
};

// kf_EngineRowMaker(makers, image, settings, needs): a maker that writes the rows of the blobs an
// analysis of image with these settings gave, by running it again with every run's label
// recorded; it keeps image (sharing its runs), the settings and the capacities the workspace had
// after the analysis. One of makers that no store holds any more is reused (the two slots take the
// maker of a scene and of the analysis that replaces it); only otherwise does it allocate.
std::shared_ptr<const kc_RowMaker> kf_EngineRowMaker(std::shared_ptr<kc_RowMaker> (&makers)[2],
                                                     const kcRLEBuffer& image, const kc_EngineSettings& settings,
                                                     const kc_WorkspaceNeeds& needs);

// kf_RecordNeeds(maker, needs): an engine maker keeps needs as the capacities its analysis needed
// (once the workspace was cut to size after the analysis).
void kf_RecordNeeds(const kc_RowMaker& maker, const kc_WorkspaceNeeds& needs);

// kf_IdleRowMakers(makers): the makers no store holds any more let go of their images, so that the
// image's runs can be reused.
void kf_IdleRowMakers(std::shared_ptr<kc_RowMaker> (&makers)[2]);

// Restoring. A store whose maker is the engine's holds nothing the maker cannot give again but for
// the caches of its blobs: a later analysis may write its blobs over the store's and, when it
// fails, put them back with kf_RestoreBlobs. Not under the labelled fill, whose finishing pass
// allocates, nor after an analysis in bands, whose needs do not bound the one-thread run that
// restores.
// kf_CanRestore(maker): whether the blobs of a store with this maker (possibly null) can be put
// back so.
bool kf_CanRestore(const kc_RowMaker* maker);
// kf_ReserveForRestore(maker, ws): ws gets the capacities the maker's analysis needed, so that
// restoring with it allocates nothing. Precondition: kf_CanRestore(&maker). May throw
// std::bad_alloc.
void kf_ReserveForRestore(const kc_RowMaker& maker, kc_ConnectWorkspace& ws);
// kf_RestoreBlobs(maker, ws, store, topIds): the entries, index and origin of store and the
// top-level ids as the maker's analysis gave them, by running it again without attention checks.
// Preconditions: kf_CanRestore(&maker); ws was reserved for it; store's and topIds' arrays have at
// least the capacity that analysis filled. Allocates nothing and cannot fail.
void kf_RestoreBlobs(const kc_RowMaker& maker, kc_ConnectWorkspace& ws, kc_BlobStore& store,
                     std::vector<BlobId>& topIds) noexcept;
