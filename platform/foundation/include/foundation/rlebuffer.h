// Run-length images: the immutable run storage, encoders from pel images, run-image operations,
// projections, and the row writer that builds new run images.
#pragma once

#include <foundation/geometry.h>
#include <foundation/pelbuffer.h>
#include <foundation/persistent.h>
#include <foundation/xform.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class kc_RLERowWriter;
struct kc_RLERep;   // the shared run storage, private to the foundation's sources
struct kc_RLEPool;  // the pool behind kcRLEStorage, private as well

// kcRLEStorage: run storage that the encoders of kcRLEBuffer reuse (see kcRLEBuffer::storage()),
// so that encoding image after image of one size stops allocating.
//
// A storage is a handle: copies share one pool. The pool keeps the runs of up to 4 images it
// encoded, each keeping the largest run storage it has needed so far (never shrunk); that memory
// stays allocated while any handle lives or any image still holds those runs. An encoding refills
// runs that no image holds any more (copies of an image hold its runs too), else adds new runs to
// the pool while it keeps fewer than 4, else allocates runs of its own as without storage. So once
// an image encoded into a storage has been released, encoding one of the same size and content
// into that storage allocates nothing. An image re-encoded in place still holds its old runs while
// the new ones are written, so it settles on two of the 4.
//
// Thread safety: one storage must not serve two encodings at the same time (copies of the handle
// included); images holding its runs may be read, copied and released on any thread meanwhile.
// Not persistent: a storage is never archived and is no part of an image's value.
class kcRLEStorage {
 public:
  // kcRLEStorage(): a new pool holding no runs yet. May throw std::bad_alloc.
  kcRLEStorage();
  // none(): a handle without a pool, the setting of an image that allocates its own runs.
  static kcRLEStorage none() noexcept { return kcRLEStorage(nullptr); }
  // isNone(): whether this handle has no pool.
  bool isNone() const noexcept { return !pool_; }
  // operator==: both handles share one pool, or neither has one.
  bool operator==(const kcRLEStorage& other) const noexcept { return pool_ == other.pool_; }

 private:
  friend class kcRLEBuffer;
  explicit kcRLEStorage(std::nullptr_t) noexcept {}

  std::shared_ptr<kc_RLEPool> pool_;  // null for none()
};

// kcRLEBuffer: an 8-bit image stored as rows of runs.
//
// Run layout (read directly by callers): each row is a sequence of two-byte runs, byte 0 the pel
// value and byte 1 the run length 1..255, ended by a run whose length byte is 0 (its value byte is
// 0). The lengths of a row add up to width(). A span longer than 255 pels is several runs of one
// value. Images made by this class (encoders, operations, the row writer) are canonical: adjacent
// runs of one row differ in value unless the first has length 255. Rows adopted with becomeOwner()
// or loaded from an archive need not be canonical; they are validated, so every row read through
// pointToRat()/pointToRow() obeys the layout above.
//
// Copy semantics: the runs are immutable and shared by reference count, so copies are cheap and
// never observe a change; every operation returns or installs a new image. Offset and transform
// cache are per object. The storage setting (storage()) belongs to the object, not to its value:
// a copy starts without one, assignment and loading keep the target's own, and only move
// construction takes the source's (the source keeps it too).
//
// Degenerate: an image with no rows (default constructed, after setUnbound(), or of width or height
// 0). It has width(), height(), numRuns() 0 and no row pointers.
//
// Cancellation: the encoders, mask, morphology, projections and subWindow call kcAttention::check()
// once every 16 rows they process; kcAttention::Abandoned then leaves this image unchanged.
//
// Coordinates: pel (x, y) of the buffer (x from the left, y from the top row, both from 0) lies at
// image position offset() + (x, y). Derived images (encoders, subWindow, mask, morphology) carry
// the offset and transform cache of their source.
class kcRLEBuffer : public kcPersistent {
 public:
  // Structuring elements of gmorphMin/gmorphMax: 0 a 3x3 square, 1 a horizontal 3x1 line
  // (the pel and its left and right neighbours), 2 a vertical 1x3 line (above and below).
  enum Shape : std::int32_t { eSquare3x3 = 0, eHoriz3x1 = 1, eVert1x3 = 2 };

  // Kinds of answer of projectAngle (see AngleProjection).
  enum ProjType : std::int32_t {
    eProjAngular = 0,       // the real-valued projection in AngleProjection::bins
    eProjRows = 1,          // use projectHoriz(); positions count from the top edge
    eProjRowsReversed = 2,  // use projectHoriz(); positions count up from the bottom edge
    eProjColumns = 3,       // use projectVert(); positions count from the left edge
    eProjColumnsReversed = 4  // use projectVert(); positions count leftwards from the right edge
  };

  // The answer of projectAngle. With A the linear part of clientFromImage, v the client direction
  // and v_perp = (-v.y, v.x), a point p of the buffer (buffer coordinates, pel corners at integers)
  // lies at client distance t(p) = g . p along v_perp, where g = A^T v_perp. Positions along the
  // projection are counted in bins from `origin`; one bin is `binLength` = |g| client units long,
  // i.e. one pel along the unit vector g / |g|.
  struct AngleProjection {
    ProjType type = eProjAngular;
    // Type 0 only (empty otherwise): bin k holds the weight (value x area) of every pel that lies
    // between k and k + 1 pels from origin along g / |g|, each pel's weight split exactly by the
    // area of its (trapezoidal) footprint in each bin. The bins sum to the weighted pel sum.
    std::vector<double> bins;
    // Buffer coordinates of the position 0 of the profile: for type 0 the corner of the buffer
    // rectangle (0,0), (width,0), (0,height) or (width,height) with the least t; for types 1 and 3
    // (0, 0); type 2 (0, height); type 4 (width, 0).
    kcVector<2> origin;
    // Client length of one bin (|g|).
    double binLength = 0.0;
    // Empty parts, in bins (0 <= b, c < 1), of the first and of the last bin holding weight: b is
    // from the start of the first occupied bin to the least t of any pel of non-zero value, c from
    // the greatest such t to the end of the last occupied bin. 0 for types 1 to 4 and for an image
    // without weight.
    double firstEmpty = 0.0;  // b
    double lastEmpty = 0.0;   // c
    // The unit axis g / |g| in buffer coordinates (every type). Type 0 mirrors x where axis.x() < 0
    // and y where axis.y() < 0, so that positions grow with both mirrored coordinates from origin.
    kcVector<2> axis;
  };

  // A position asked of locateInBins: inside bin `bin` of a type 0 projection, where the weight
  // counted from the bin's start (fromEnd: back from its end) reaches `mass`.
  struct BinQuery {
    std::size_t bin = 0;
    double mass = 0.0;
    bool fromEnd = false;
  };
  // The most queries one locateInBins call answers.
  static constexpr std::size_t kMaxBinQueries = 3;

  // A degenerate image at offset (0, 0) with the identity transform pair.
  kcRLEBuffer() = default;
  kcRLEBuffer(const kcRLEBuffer& other);
  kcRLEBuffer(kcRLEBuffer&& other) noexcept;
  // Assignment gives notice (mutating()) and then shares other's runs, offset and transforms.
  kcRLEBuffer& operator=(const kcRLEBuffer& other);
  kcRLEBuffer& operator=(kcRLEBuffer&& other) noexcept;
  ~kcRLEBuffer() override;

  // ---- geometry and run access (constant time) ----
  long width() const { return width_; }
  long height() const { return height_; }
  // size(): (width(), height()).
  kcPair<long> size() const { return kcPair<long>{width_, height_}; }
  // offset(): image position of the first pel. offset(p) gives notice and sets it.
  const kcPair<long>& offset() const { return offset_; }
  void offset(const kcPair<long>& position);
  // numRuns(): two-byte runs of all rows, terminators not counted (0 when degenerate).
  std::uint64_t numRuns() const;
  // isBinary(): every run value is 0 or 1 (true for a degenerate image).
  bool isBinary() const;
  // isDegenerate(): no rows (see the class comment).
  bool isDegenerate() const { return !rep_; }

  // pointToRat(): height() row pointers, top row first, each to the row's first run; null when
  // degenerate. Valid while this object (or any copy sharing the runs) keeps them: until it is
  // assigned, loaded, re-encoded, adopts other rows or is unbound.
  const unsigned char* const* pointToRat() const;
  // pointToRow(y): row y's first run, valid as pointToRat(). Throws kcBadArgument when degenerate
  // or y is outside [0, height()).
  const unsigned char* pointToRow(long y) const;

  // xformCache(): the transform pair carried with the image. copyXforms(cache) gives notice and
  // replaces it with a copy (handles shared).
  const kc2XformCache& xformCache() const { return xforms_; }
  void copyXforms(const kc2XformCache& cache);

  // setUnbound(): gives notice and drops the runs (the image becomes degenerate); offset and
  // transform cache are kept.
  void setUnbound();

  // operator==: both degenerate, or equal width, height, offset and pel values; how spans are
  // split into runs and the transform caches are not compared. Cost: one pass over both run lists.
  bool operator==(const kcRLEBuffer& other) const;

  // ---- decoding and sub-windows ----
  // image(): the pels as a new pel image (alignment 32) with this offset and transform cache;
  // an unbound pel image when degenerate. Cost: width x height.
  kcPelBuffer<unsigned char> image() const;
  // subWindow(rect): the pels inside rect, given in image coordinates (the coordinates of
  // offset()), as a new image at offset rect.ul() with this transform cache. Throws kcBadArgument
  // when this image is degenerate, rect has a width or height below 1, or rect is not inside
  // the image. Cost: the runs of the rows inside rect.
  kcRLEBuffer subWindow(const kcPelRect& rect) const;

  // ---- adopting rows built by the caller ----
  // becomeOwner(width, rowStarts, chunks, adopt): replaces the runs with rowStarts.size() rows;
  // rowStarts[y] points at row y's first run inside one of the chunks (rows may share a chunk and
  // need not be in order). With adopt true the chunks are moved into this image (their data do not
  // move, so rowStarts stay valid and the caller's vector is left empty); with adopt false the rows
  // are copied and chunks is left as it was. Gives notice; offset and transform cache are kept.
  // The result is degenerate when width or the number of rows is 0.
  // Every row is validated first: it must start inside a chunk, every run before the terminator
  // must have a length byte 1..255, the terminator must be reached without reading past the end of
  // that chunk, and the lengths must add up to width. Throws kcBadArgument, changing nothing
  // (chunks included), when a row fails, when width is negative or above 2^31 - 1, or when a row
  // pointer is null. Cost: one pass over the runs.
  void becomeOwner(long width, const std::vector<const unsigned char*>& rowStarts,
                   std::vector<std::vector<unsigned char>>& chunks, bool adopt);
  // becomeOwner(width, rowStarts, chunk): the same with the rows inside one chunk, always adopted
  // (moved from) when valid.
  void becomeOwner(long width, const std::vector<const unsigned char*>& rowStarts,
                   std::vector<unsigned char>& chunk);
  // becomeStack(parts): replaces the runs with the rows of parts, one part below the other, sharing
  // (not copying) their runs; offset and transform cache are kept. So an image encoded in bands of
  // rows becomes one image. Throws kcBadArgument, changing nothing, when parts is empty, a part is
  // degenerate or parts differ in width, or the height would pass 2^31 - 1. Cost: a pointer per row.
  void becomeStack(const std::vector<kcRLEBuffer>& parts);
  // becomeView(width, height, first, end, owner): replaces the runs with height rows that lie one
  // after another from first (each row ended by its terminator, the next starting right after it),
  // all before end. The bytes are not copied: they must stay unchanged while owner lives, and
  // every copy of this image shares owner. Validated as becomeOwner validates (kcBadArgument,
  // nothing changed; also when first is null or height is negative). Gives notice; offset and
  // transform cache are kept. Cost: one pass over the runs; allocates the row table.
  void becomeView(long width, long height, const unsigned char* first, const unsigned char* end,
                  std::shared_ptr<const void> owner);

  // ---- encoders from pel images ----
  // Each encoder validates its arguments first, then gives notice and replaces this image with the
  // encoded one (width, height, offset and transform cache of the pel image). A pel image of width
  // or height 0 gives a degenerate image. Throws kcBadArgument, changing nothing, when the pel
  // image is unbound or an argument is out of range as stated. Cost: one pass over the pels (two
  // for the percentage forms); the run storage is allocated once per call, or drawn from
  // storage() when one is set (see kcRLEStorage).

  // storage(s): the encoders of this image take their run storage from s from now on; s.isNone()
  // returns to storage allocated per call (the default). Gives no notice and changes no image,
  // this one's current runs included. storage(): the handle set, or kcRLEStorage::none(). The
  // setting is not copied, assigned, archived or loaded (see the class comment).
  void storage(const kcRLEStorage& s) { storage_ = s; }
  const kcRLEStorage& storage() const { return storage_; }

  // encode(image): plain copy, each run value the pel value.
  void encode(const kcPelBuffer_const<unsigned char>& image);
  // encode(image, map): value = map[pel]. A map of fewer than 256 entries is refused; entries past
  // 255 are ignored.
  void encode(const kcPelBuffer_const<unsigned char>& image, const std::vector<unsigned char>& map);
  // encode(image, preMap, threshImage, postMap): with p = preMap[pel] (pel when preMap is empty)
  // and q the pel at the same (x, y) of threshImage, value = postMap[clamp(p - q, 0, 255)]
  // (the clamped difference itself when postMap is empty). threshImage must be bound and of the
  // same width and height (its offset is not used); a non-empty map of fewer than 256 entries is
  // refused.
  void encode(const kcPelBuffer_const<unsigned char>& image, const std::vector<unsigned char>& preMap,
              const kcPelBuffer_const<unsigned char>& threshImage,
              const std::vector<unsigned char>& postMap);
  // encode(image, thresh, invert): hard threshold, value = 1 where pel >= thresh, else 0; invert
  // swaps 0 and 1. The image is binary.
  void encode(const kcPelBuffer_const<unsigned char>& image, unsigned char thresh, bool invert);
  // encode(image, low, high, softness, invert): soft threshold with S = softness + 1 (softness
  // 0..254, else refused). When low < high: value = 0 for pel <= low, S for pel >= high, and
  // floor((pel - low) x S / (high - low) + 1/2) between (the ramp rounded half up). When
  // low >= high: S for pel >= high, 0 below. invert gives S - value.
  void encode(const kcPelBuffer_const<unsigned char>& image, unsigned char low, unsigned char high,
              int softness, bool invert);

  // Percentage forms. With N pels sorted by value (ranks 0..N-1), lowCut = floor(N x lowTail / 100)
  // and hiCut = floor(N x hiTail / 100), the remaining range is lo = value at rank lowCut,
  // hi = value at rank N - 1 - hiCut; when nothing remains (lowCut + hiCut >= N) both are the value
  // at rank min(lowCut, N - 1). A percentage P maps to the value lo + floor(P x (hi - lo) / 100
  // + 1/2). Tails must be in [0, 100] with a sum of at most 100, threshold percentages in [0, 100];
  // anything else is refused.
  // encodePercent(image, lowTail, hiTail, threshPercent, invert): hard threshold at the mapped value.
  void encodePercent(const kcPelBuffer_const<unsigned char>& image, long lowTailPercent,
                     long hiTailPercent, int threshPercent, bool invert);
  // encodePercent(image, lowTail, hiTail, lowPercent, hiPercent, softness, invert): soft threshold
  // between the two mapped values (lowPercent <= hiPercent required, equal allowed; mapped values
  // that coincide take the low >= high rule above).
  void encodePercent(const kcPelBuffer_const<unsigned char>& image, long lowTailPercent,
                     long hiTailPercent, int lowThreshPercent, int hiThreshPercent, int softness,
                     bool invert);

  // ---- run-image operations (each returns a new image; this one is unchanged) ----
  // mask(mask, lo, hi, invert): this image with every pel set to 0 where the mask's value at the
  // same image position lies in [lo, hi] (with invert: lies outside [lo, hi]). Positions outside
  // the mask's rectangle, and every position of a degenerate mask, have mask value 0. So
  // (mask, 0, 0, false) keeps the image where the mask is non-zero. Same size, offset and
  // transform cache as this image. Throws kcBadArgument when this image is degenerate.
  kcRLEBuffer mask(const kcRLEBuffer& mask, unsigned char lo, unsigned char hi, bool invert) const;
  // gmorphMin(shape), gmorphMax(shape): grey-scale erosion / dilation: each pel becomes the
  // minimum / maximum of the pels under the structuring element centred on it; neighbours outside
  // the image are ignored. Same size, offset and transform cache. Throws kcBadArgument when this
  // image is degenerate or shape is not 0, 1 or 2.
  kcRLEBuffer gmorphMin(Shape shape) const;
  kcRLEBuffer gmorphMax(Shape shape) const;

  // ---- projections (weighted: each pel adds its value) ----
  // projectHoriz(): height() sums, one per row, top first. projectVert(): width() sums, one per
  // column, left first. projectDiag(): width() + height() - 1 sums, entry i over the pels with
  // x + y = i (buffer coordinates). Empty when degenerate. Cost: one pass over the runs plus the
  // length of the result.
  std::vector<std::uint64_t> projectHoriz() const;
  std::vector<std::uint64_t> projectVert() const;
  std::vector<std::uint64_t> projectDiag() const;
  // projectAngle(direction, clientFromImage, alwaysAngular): the projection of the pels onto the
  // client axis perpendicular to direction (see AngleProjection). When alwaysAngular is false and
  // g is along the row axis (|g.x| <= 1e-9 |g|) the answer is type 1 (g.y > 0) or 2 (g.y < 0);
  // along the column axis (|g.y| <= 1e-9 |g|) type 3 (g.x > 0) or 4 (g.x < 0); the caller then
  // uses projectHoriz() or projectVert(). Otherwise type 0 with the bins filled. Only the linear
  // part of clientFromImage is used. Throws kcBadArgument when this image is degenerate or g is
  // the zero vector (a zero direction or a singular transform). Cost of type 0: the runs plus
  // the number of bins per row.
  AngleProjection projectAngle(const kcVector<2>& direction, const kcXform<2>& clientFromImage,
                               bool alwaysAngular) const;
  // locateInBins(projection, queries, positions): positions[i], in bins from projection.origin,
  // is where inside bin k = queries[i].bin the weight of the pel squares counted from k (fromEnd:
  // back from k + 1) first exceeds queries[i].mass. Mass 0 so gives the first (fromEnd: last)
  // position of positive density in the bin: exactly the least (greatest) pel corner there, as
  // projectAngle computes the corners. A mass at or past the bin's weight gives the far end of that
  // weight; a bin without weight gives the side the count starts from. The density of each run (a
  // trapezoid: ramps and a plateau) is integrated exactly, except that ramps shorter than 1e-6 bin
  // count as steps at their middles. Error bound: with F the exact weight counted as the query
  // counts, F(p - d) <= mass <= F(p + d) for d = 5e-7 bin, up to rounding (relative 1e-15 of the
  // weights and of the projection's length); so p is within 5e-7 bin of the exact position
  // wherever the pel squares leave no gap.
  // projection must be projectAngle's type 0 answer for this image; only its type, axis and number
  // of bins are checked. Throws kcBadArgument, writing nothing, when this image is degenerate, that
  // check fails, there are more than kMaxBinQueries queries or not as many positions, a bin is out
  // of range, or a mass is negative or not finite. Cost: one pass over the runs of the rows
  // reaching the queried bins, plus sorting the density's breakpoints inside those bins (at most
  // four per run reaching one, in linear time when they are spread). The buffers are kept per
  // thread between calls, at the largest size needed so far.
  void locateInBins(const AngleProjection& projection, std::span<const BinQuery> queries,
                    std::span<double> positions) const;

  // reInit(): gives notice and returns to a default-constructed image, except that the storage
  // setting is kept.
  void reInit() override;

 protected:
  // Archive form, version 0: the kcPersistent part, a bound flag (bool); when bound: width and
  // height (long), the runs of all rows one after another as one byte vector (terminators
  // included); then always offset x, offset y (long) and the transform cache. Loading validates
  // the rows as becomeOwner() does (exactly height rows, no bytes left over) and throws
  // kcArchive::Damaged otherwise, kcArchive::UnknownVersion for a newer version.
  void dispatchSerialize(kcArchive& ar) override;

 private:
  friend class kc_RLERowWriter;

  void serialize_(kcArchive& ar, unsigned char version);
  // install(rep, width, height): gives notice and takes the new runs (null: degenerate).
  void install(std::shared_ptr<const kc_RLERep> rep, long width, long height);

  static kcPersistent* make();
  static kc_Instantiator sExemplar;

  std::shared_ptr<const kc_RLERep> rep_;  // null when degenerate
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  kcPair<long> offset_{0, 0};
  kc2XformCache xforms_;
  kcRLEStorage storage_ = kcRLEStorage::none();  // per object: see storage()
};

// kc_RLERowWriter: builds a canonical kcRLEBuffer row by row from spans of any length. Adjacent
// spans of equal value are joined and spans longer than 255 pels split, so callers need not care
// about the run limits. Storage grows geometrically (no allocation per span); reserveRuns() sizes
// it in advance. Internal to the foundation's image operations.
class kc_RLERowWriter {
 public:
  // A writer for width x height pels. Throws kcBadArgument when width or height is negative or
  // above 2^31 - 1.
  kc_RLERowWriter(long width, long height);

  // reserveRuns(runs): room for that many two-byte runs (terminators included) without growing.
  void reserveRuns(std::size_t runs);

  // put(value, length): appends a span of the current row; length 0 is ignored. The row must not
  // exceed the width (internal assertion, checked at endRow()).
  void put(unsigned char value, std::uint32_t length) {
    if (length == 0) return;
    if (value != pendingValue_ && pendingLength_ != 0) flush();
    pendingValue_ = value;
    pendingLength_ += length;
    rowPels_ += length;
  }
  // endRow(): ends the current row. Internal assertion: the row covered exactly width pels and no
  // more than height rows are written.
  void endRow();
  // finish(offset, xforms): the image built so far (all height rows must be ended: internal
  // assertion), at offset with the transform cache. The writer is empty afterwards.
  kcRLEBuffer finish(const kcPair<long>& offset, const kc2XformCache& xforms);

 private:
  void flush();

  std::vector<unsigned char> bytes_;
  std::vector<std::size_t> rowStarts_;
  std::int32_t width_;
  std::int32_t height_;
  std::uint64_t rowPels_ = 0;
  std::uint64_t pendingLength_ = 0;
  unsigned char pendingValue_ = 0;
  bool binary_ = true;
};
