// Streaming blob analysis: an image fed band by band, of any height, each top-level blob handed out
// with every blob and hole inside it as soon as no later row can touch it.
//
//   kcBlobStream stream(params, width);
//   for (each band of rows) {
//     stream.feed(band);
//     long number;
//     while (auto scene = stream.take(&number)) use(number, *scene);
//   }
//   stream.finish();  // then take() the rest
#pragma once

#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <foundation/pelbuffer.h>

#include <cstddef>
#include <memory>

// kcBlobStream: the analysis of an image that arrives in bands of rows. Each top-level
// blob is handed out, with its whole tree, as the scene of an analysis of its own, once the rows
// fed show that nothing below can touch it: the row after its last row ends it when the
// background around it reaches the image's left, right or top edge by then; otherwise when that
// background does, or at finish(). A blob inside a hole is part of the tree of the blob around the
// hole.
//
// What each handed-out scene holds: exactly the blobs and holes of that tree as an analysis of the
// whole image with the same parameters gives them, bit for bit: the same pels, the same tree (ids
// in the same raster order, numbered from 1 within the tree), every measure, cleanup (prune or
// fill) included; the scene's image coordinates are those of the whole image (its window is the
// tree's bounding box widened by one pel where the image has one). The scene's measure settings
// (angle, exclusion, client transform) are the caller's to set on each scene, as after
// kfBlobAnalysis. A tree the cleanup removes whole is not handed out and takes no number.
//
// Settings: segmentation none, map, hard or soft threshold (not percentages, which need the whole
// image's histogram, nor a threshold image), any connectivity, any cleanup; no mask and no
// morphology. Others are refused by the constructor with kcBlobDefs::BadParams ("A stream cannot
// ..."). With whole-image connectivity the one blob is every pel that is not 0, so its tree is
// complete only at finish(): the stream keeps the rows from the one above the first such pel on.
// With labelled connectivity every pel belongs to a region, and the region around all others (as a
// rule the background's value) heads a tree that ends with the image; the stream keeps every row
// and hands every tree out at finish(), in raster order of their top-level blobs' first pels, each
// cut from the analysis of the whole image (its blobs' entries and rows, renumbered).
//
// How: with grey-scale connectivity the rows go through the connectivity engine of kfBlobAnalysis
// once, as they come; each run is kept (16 bytes) with its region, and a tree's entries
// and runs leave the engine when it is complete; its rows are written from those runs when first
// needed, as an analysis's are.
//
// Memory: with grey-scale connectivity never the whole image: the runs of the blobs still open at
// the last row fed and of the trees complete but waiting for the background around them (16 bytes
// each), the regions open at the last row (about 130 bytes each), the trees complete but not yet
// taken (their scenes, each holding its runs), and the engine's labels and entries, which are
// renumbered whenever those in use are a quarter or less of them, so that they follow the regions
// open, not the rows fed. The run arrays of scenes released (on any thread) are kept for the next
// trees, 1 MiB at most. Whole-image connectivity keeps every row from the one above the first
// pel that is not 0 (its one tree needs them), labelled connectivity every row, 12 bytes per run;
// finish() then holds the analysis of those rows while it cuts the trees.
class BLOB_EXPORT kcBlobStream {
 public:
  // kcBlobStream(params, width): a stream of images width pels wide, analysed as params says (a
  // copy is kept). Throws kcBlobDefs::BadParams for a setting the stream does not support or
  // that kfBlobAnalysis refuses, and for a width outside 1 .. 2^31 - 1.
  kcBlobStream(const kcBlobParams& params, long width);
  ~kcBlobStream();
  kcBlobStream(kcBlobStream&&) noexcept;
  kcBlobStream& operator=(kcBlobStream&&) noexcept;

  // feed(rows): the next rows of the image (any height, 0 included). Throws kcBlobDefs::BadParams
  // for rows of another width, an unbound image or feeding after finish(), changing nothing;
  // kcBadArgument when a blob or hole would span more than 2147483646 rows. Cancellation:
  // kcAttention::check() every 16 rows. A stream that threw part way (abandoned, out of memory) is
  // unusable: further feeds and finish() throw BadParams. Cost: linear in the rows' runs, plus each
  // completed tree's entries and runs.
  void feed(const kcPelBuffer_const<unsigned char>& rows);

  // finish(): the image ends after the rows fed; every tree still open is complete. Further feeds
  // are refused. Calling it twice is harmless.
  void finish();

  // ready(): the complete trees not yet taken.
  std::size_t ready() const;

  // take(number): the oldest complete tree not taken, as the scene of an analysis of its own, now
  // the caller's; null when none is ready. number, when not null, receives the tree's number,
  // counting from 1 in the order the trees completed (0 with null).
  std::unique_ptr<kcBlobSceneDescription> take(long* number = nullptr);

  // rowsFed(): rows fed so far. rowsHeld(): the rows from the first row of the oldest blob whose runs
  // the stream keeps (open, or complete and waiting) to the last row fed; with whole-image or
  // labelled connectivity, the rows kept. Cost: linear in the regions open at the last row.
  long rowsFed() const;
  long rowsHeld() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
