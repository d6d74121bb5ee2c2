// Grey-scale connectivity on several threads, with any cleanup: the rows split into bands, each band scanned on its
// own thread, and the bands joined into the result of one scan of the whole image.
#pragma once

#include "connect/connect_engine.h"

#include <cstddef>
#include <vector>

class kcRLEBuffer;

// kf_ConnectInBands(image, ws, out, topIds, threads, cleanup, minPels): the blobs and top-level ids
// that kc_ConnectEngine(image, ws, out, false, cleanup, minPels) gives by scan() and
// finish(topIds), bit for bit, computed on up to threads threads (kc_WorkPool); returns what that
// engine's retired() would. Images too small for bands (kf_Bands) run the engine on the calling
// thread. The bands start as tall as each other (kf_Bands, the first a little taller); a thread
// done with its band takes the lower half of the rows not yet scanned of the band with the most
// left, as a band of its own, while that is at least twice kf_LeastSplitRows, so that content
// spread unevenly over the rows, or a core slower than the others, still keeps every thread busy.
// Cancellation as kc_WorkPool::run: kf_CheckStop() every 16 rows of every band. On an exception
// out holds a partial result that must not be used. Each band below the first scans into a
// workspace and a store that ws keeps for the next call (ws.bandSpaces, ws.bandStores: the band's
// labels, open regions and entries); a call allocates only the light pass's rows and a few
// records per band.
//
// Why the result is the one scan's: a light pass (connectivity alone, walking up from the row
// above each band) gives the regions of that row as the whole scan leaves them there. Each band's
// engine makes one placeholder record per such region before anything else and scans its rows
// against that row, so it takes every decision the whole scan takes in those rows (joins, merges
// with the same survivor, closings) and creates the same records and labels in the same order: the
// whole scan's labels and serials are the band's, less its placeholders, plus the count of the
// bands above. The join adds each region from above into the record that holds its placeholder
// (pel sums modulo 2^64, as the scan adds them; the smallest key; the placeholder record's serial
// and value) and splices its children at the placeholder's marker child, where merges and
// adoptions put them in the whole scan. Ids, the top-level order and the child order depend on
// nothing else. A region that closes without holding a placeholder lies in its band whole, and so
// do its children, so its count and children are final there: the band prunes or fills it as the
// whole scan does (kc_ConnectEngine::cleanupInBand), which on noise is nearly every region. The
// cleanup of the regions that cross a seam is decided after the join, in one pass on the calling
// thread in the order regions closed (entry order), from each closed region's whole pel count: the
// prune from its final children (kc_ConnectEngine::pruneJoined), the fill from its pels and what
// was filled into it, each such close having left a phantom in its encloser's child list where the
// fill puts the grandchildren of a region it fills (kc_ConnectEngine::fillJoined). With the fill
// every entry keeps 32 bytes beside it (ws.closes) until the finish. None of this depends on where
// the seams fall, so the splits, which follow the threads' timing, leave the result as it is.
std::size_t kf_ConnectInBands(const kcRLEBuffer& image, kc_ConnectWorkspace& ws, kc_BlobStore& out,
                              std::vector<BlobId>& topIds, unsigned threads,
                              kc_CleanupKind cleanup = kc_CleanupKind::eNone, PelCount minPels = 0);
