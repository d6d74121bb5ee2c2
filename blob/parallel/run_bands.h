// Run-length images worked on in bands of rows, one band per task of the work pool.
#pragma once

#include <foundation/rlebuffer.h>

#include <functional>
#include <vector>

// kf_BandRect(at, width, height, bands, b): band b of bands of an image of width x height pels at
// position at (kf_BandTop's rows), in image coordinates.
kcPelRect kf_BandRect(const kcPair<long>& at, long width, long height, std::size_t bands, std::size_t b);

// kf_StackBands(parts, offset, xforms): the parts, one below the other, as one image at offset
// with the transform cache xforms; the parts' runs are shared, not copied.
kcRLEBuffer kf_StackBands(const std::vector<kcRLEBuffer>& parts, const kcPair<long>& offset,
                          const kc2XformCache& xforms);

// kf_RunsInBands(image, threads, margin, op): op(image) computed in bands (kf_Pieces) on up to
// threads threads, for an op that keeps the size, offset and transform cache and whose rows each
// depend only on the rows at most margin above and below them: each band is given with margin
// rows more on either side where the image has them, and keeps its own rows of op's answer. One
// band: op(image) on the calling thread. op must not depend on which rows it is given otherwise,
// and runs on any thread; its exceptions pass as kc_WorkPool::run passes them.
kcRLEBuffer kf_RunsInBands(const kcRLEBuffer& image, unsigned threads, long margin,
                           const std::function<kcRLEBuffer(const kcRLEBuffer&)>& op);
