// Grey-scale connectivity without cleanup on several threads: the rows split into bands, each band
// scanned on its own thread, and the bands joined into the result of one scan of the whole image.
#pragma once

#include "connect/connect_engine.h"

#include <cstddef>
#include <vector>

class kcRLEBuffer;

// kf_ConnectInBands(image, ws, out, topIds, threads): the blobs and top-level ids that
// kc_ConnectEngine(image, ws, out, false, kc_CleanupKind::eNone, 0) gives by scan() and
// finish(topIds), bit for bit, computed on up to threads threads (kc_WorkPool); returns what that
// engine's retired() would. Images too small for bands (kf_Bands) run the engine on the calling
// thread. Cancellation as kc_WorkPool::run: kf_CheckStop() every 16 rows of every band. On an
// exception out holds a partial result that must not be used.
std::size_t kf_ConnectInBands(const kcRLEBuffer& image, kc_ConnectWorkspace& ws, kc_BlobStore& out,
                              std::vector<BlobId>& topIds, unsigned threads);
