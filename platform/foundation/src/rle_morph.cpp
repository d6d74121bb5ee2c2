// Grey-scale erosion and dilation of run-length images with 3x3, 3x1 and 1x3 elements, on spans.
//
// Each row is first read as maximal spans (value, end column). The horizontal 3x1 element only
// changes the first and last pel of a span (each meets one neighbouring span); the vertical 1x3
// element is the pointwise extreme of three rows, found by walking their spans together; the 3x3
// square is the vertical element applied to horizontally filtered rows (min and max over a
// rectangle are separable). Neighbours outside the image are ignored, which is the same as
// repeating the edge row or pel. The result is written through kc_RLERowWriter, so it is canonical.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

const wchar_t* const kDegenerate = L"The run-length image is degenerate.";
const wchar_t* const kBadShape = L"The structuring element must be 0, 1 or 2.";

// One maximal span of a row: pels [previous end, end) of one value.
struct Span {
  std::uint32_t end;
  unsigned char value;
};

// A row of spans; put() joins a piece to the last span when the values agree.
class SpanRow {
 public:
  void clear() {
    spans_.clear();
    width_ = 0;
  }
  void put(unsigned char value, std::uint32_t length) {
    if (length == 0) return;
    width_ += length;
    if (!spans_.empty() && spans_.back().value == value) {
      spans_.back().end = width_;
    } else {
      spans_.push_back(Span{width_, value});
    }
  }
  const std::vector<Span>& spans() const { return spans_; }

 private:
  std::vector<Span> spans_;
  std::uint32_t width_ = 0;
};

struct MinOf {
  static unsigned char of(unsigned char a, unsigned char b) { return a < b ? a : b; }
};
struct MaxOf {
  static unsigned char of(unsigned char a, unsigned char b) { return a < b ? b : a; }
};

void readSpans(const unsigned char* run, SpanRow& out) {
  out.clear();
  for (; run[1] != 0; run += 2) out.put(run[0], run[1]);
}

// The 3x1 element on one row of maximal spans: a span's first pel meets the span before it and
// its last pel the span after it; the pels between keep their value.
template <class Op, class Sink>
void filterHoriz(const std::vector<Span>& in, Sink& out) {
  const std::size_t n = in.size();
  std::uint32_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char v = in[i].value;
    const std::uint32_t stop = in[i].end;
    const unsigned char left = i > 0 ? Op::of(v, in[i - 1].value) : v;
    const unsigned char right = i + 1 < n ? Op::of(v, in[i + 1].value) : v;
    if (stop - start == 1) {
      out.put(Op::of(left, right), 1);
    } else {
      out.put(left, 1);
      out.put(v, stop - start - 2);  // a length of 0 is ignored by both sinks
      out.put(right, 1);
    }
    start = stop;
  }
}

// The 1x3 element: the pointwise extreme of rows a, b and c (the same row may be passed twice).
template <class Op, class Sink>
void combineRows(const std::vector<Span>& a, const std::vector<Span>& b, const std::vector<Span>& c,
                 std::uint32_t width, Sink& out) {
  const Span* pa = a.data();
  const Span* pb = b.data();
  const Span* pc = c.data();
  std::uint32_t x = 0;
  while (x < width) {
    const std::uint32_t end = std::min(std::min(pa->end, pb->end), pc->end);
    out.put(Op::of(Op::of(pa->value, pb->value), pc->value), end - x);
    pa += pa->end == end;
    pb += pb->end == end;
    pc += pc->end == end;
    x = end;
  }
}

// The last three prepared rows (read, and filtered horizontally for the square), by row mod 3.
template <class Op>
class RowRing {
 public:
  RowRing(const unsigned char* const* rows, bool filter) : rows_(rows), filter_(filter) {}
  // prepare(y): fills the slot of row y; rows must be prepared in increasing order.
  void prepare(long y) {
    SpanRow& slot = slots_[static_cast<std::size_t>(y % 3)];
    if (!filter_) {
      readSpans(rows_[y], slot);
      return;
    }
    readSpans(rows_[y], scratch_);
    slot.clear();
    filterHoriz<Op>(scratch_.spans(), slot);
  }
  const std::vector<Span>& row(long y) const { return slots_[static_cast<std::size_t>(y % 3)].spans(); }

 private:
  const unsigned char* const* rows_;
  bool filter_;
  SpanRow slots_[3];
  SpanRow scratch_;
};

template <class Op>
void morphHoriz(const unsigned char* const* rows, long height, kc_RLERowWriter& writer) {
  SpanRow spans;
  for (long y = 0; y < height; ++y) {
    readSpans(rows[y], spans);
    filterHoriz<Op>(spans.spans(), writer);
    writer.endRow();
  }
}

template <class Op>
void morphVert(const unsigned char* const* rows, long width, long height, bool square,
               kc_RLERowWriter& writer) {
  RowRing<Op> ring(rows, square);
  ring.prepare(0);
  for (long y = 0; y < height; ++y) {
    const long next = std::min(y + 1, height - 1);
    if (next != y) ring.prepare(next);
    combineRows<Op>(ring.row(std::max(y - 1, 0L)), ring.row(y), ring.row(next),
                    static_cast<std::uint32_t>(width), writer);
    writer.endRow();
  }
}

template <class Op>
kcRLEBuffer morph(const kcRLEBuffer& image, kcRLEBuffer::Shape shape) {
  if (image.isDegenerate()) throw kcBadArgument(kDegenerate);
  if (shape != kcRLEBuffer::eSquare3x3 && shape != kcRLEBuffer::eHoriz3x1 &&
      shape != kcRLEBuffer::eVert1x3) {
    throw kcBadArgument(kBadShape);
  }
  kc_RLERowWriter writer(image.width(), image.height());
  writer.reserveRuns(image.numRuns() + static_cast<std::uint64_t>(image.height()));
  if (shape == kcRLEBuffer::eHoriz3x1) {
    morphHoriz<Op>(image.pointToRat(), image.height(), writer);
  } else {
    morphVert<Op>(image.pointToRat(), image.width(), image.height(),
                  shape == kcRLEBuffer::eSquare3x3, writer);
  }
  return writer.finish(image.offset(), image.xformCache());
}

}  // namespace

kcRLEBuffer kcRLEBuffer::gmorphMin(Shape shape) const { return morph<MinOf>(*this, shape); }

kcRLEBuffer kcRLEBuffer::gmorphMax(Shape shape) const { return morph<MaxOf>(*this, shape); }
