// Fixed-seed 8-bit test images for the timing programs: the drawing of each image class.
#include "bench_images.h"

#include <foundation/exception.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace bench {
namespace {

// Pel values carry a mild texture so that no encoder can rely on constant runs of pels; the
// background stays in 30..93 and the foreground in 170..233, both clear of the threshold.
unsigned char backgroundPel(long x, long y) { return static_cast<unsigned char>(30 + ((x * 7 + y * 13) & 63)); }
unsigned char foregroundPel(long x, long y) { return static_cast<unsigned char>(170 + ((x * 5 + y * 11) & 63)); }

// Writes columns [x0, x1) of row y as foreground or background, clipped to the image.
void paintSpan(const kcPelBuffer<unsigned char>& image, long y, long x0, long x1, bool foreground) {
  if (y < 0 || y >= image.height()) return;
  x0 = std::max(x0, 0L);
  x1 = std::min(x1, image.width());
  unsigned char* row = image.pointToRow(y);
  for (long x = x0; x < x1; ++x) row[x] = foreground ? foregroundPel(x, y) : backgroundPel(x, y);
}

void paintAll(const kcPelBuffer<unsigned char>& image, bool foreground) {
  for (long y = 0; y < image.height(); ++y) paintSpan(image, y, 0, image.width(), foreground);
}

// A disc of radius r around the pel (cx, cy): the pels whose centre lies within r of its centre.
void paintDisc(const kcPelBuffer<unsigned char>& image, long cx, long cy, long r, bool foreground) {
  for (long dy = -r; dy <= r; ++dy) {
    const auto half = static_cast<long>(std::sqrt(static_cast<double>(r * r - dy * dy)));
    paintSpan(image, cy + dy, cx - half, cx + half + 1, foreground);
  }
}

// A value in [0, n) from the generator; plain modulo keeps the images identical on every library.
long pick(std::mt19937_64& rng, long n) { return static_cast<long>(rng() % static_cast<std::uint64_t>(n)); }

// Parts: a jittered grid of discs; most have a central hole (some with an island in it) or two
// side holes; a few solid ones; and as many 1- or 2-pel specks of dust as there are parts.
void paintParts(const kcPelBuffer<unsigned char>& image, std::mt19937_64& rng) {
  const long side = image.width();
  const long count = side >= 4096 ? 1000 : std::max(4L, 400 * side / 2048 * side / 2048);
  const auto grid = static_cast<long>(std::ceil(std::sqrt(static_cast<double>(count))));
  const long cell = side / grid;
  paintAll(image, false);
  for (long i = 0; i < count; ++i) {
    const long cx = (i % grid) * cell + cell / 2 + pick(rng, cell / 5 + 1) - cell / 10;
    const long cy = (i / grid) * cell + cell / 2 + pick(rng, cell / 5 + 1) - cell / 10;
    const long r = cell / 4 + pick(rng, cell / 5 + 1);
    paintDisc(image, cx, cy, r, true);
    switch (pick(rng, 8)) {
      case 0: break;  // solid
      case 1: case 2:
        paintDisc(image, cx - r / 2, cy, r / 5, false);
        paintDisc(image, cx + r / 2, cy, r / 5, false);
        break;
      case 3: case 4:
        paintDisc(image, cx, cy, r / 2, false);
        paintDisc(image, cx, cy, r / 6, true);
        break;
      default: paintDisc(image, cx, cy, 2 * r / 5, false); break;
    }
  }
  for (long i = 0; i < count; ++i) {
    const long x = pick(rng, side), y = pick(rng, side), w = 1 + pick(rng, 2);
    paintSpan(image, y, x, x + w, true);
  }
}

void paintNoise(const kcPelBuffer<unsigned char>& image, std::mt19937_64& rng, unsigned percent) {
  for (long y = 0; y < image.height(); ++y) {
    unsigned char* row = image.pointToRow(y);
    for (long x = 0; x < image.width(); ++x) {
      row[x] = rng() % 100 < percent ? foregroundPel(x, y) : backgroundPel(x, y);
    }
  }
}

void paintChecker(const kcPelBuffer<unsigned char>& image) {
  for (long y = 0; y < image.height(); ++y) {
    unsigned char* row = image.pointToRow(y);
    for (long x = 0; x < image.width(); ++x) row[x] = (x + y) % 2 ? foregroundPel(x, y) : backgroundPel(x, y);
  }
}

// A 5 x 7 font of letters and digits; about half of them enclose a hole.
constexpr long kGlyphW = 5, kGlyphH = 7;
using Glyph = std::array<const char*, kGlyphH>;
constexpr std::array<Glyph, 15> kFont = {{
    {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"},  // A
    {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."},  // B
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"},  // R
    {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."},  // 8
    {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."},  // 0
    {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."},  // e
    {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."},  // o
    {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"},  // a
    {"....#", "....#", ".####", "#...#", "#...#", "#...#", ".####"},  // d
    {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."},  // l
    {"..#..", "..#..", "#####", "..#..", "..#..", "..#.#", "...#."},  // t
    {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."},  // i
    {".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#"},  // n
    {".....", ".....", ".####", "#....", ".###.", "....#", "####."},  // s
    {".....", ".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#"},  // x
}};

constexpr bool fontIsWellFormed() {
  for (const Glyph& glyph : kFont)
    for (const char* row : glyph)
      if (std::char_traits<char>::length(row) != kGlyphW) return false;
  return true;
}
static_assert(fontIsWellFormed(), "every glyph row is kGlyphW pels wide");

// Glyphs: lines of words of 2 to 9 glyphs drawn at scale 2 (2-pel strokes), one space apart.
void paintGlyphs(const kcPelBuffer<unsigned char>& image, std::mt19937_64& rng) {
  constexpr long kScale = 2, kAdvance = (kGlyphW + 1) * kScale, kPitch = (kGlyphH + 3) * kScale, kMargin = 16;
  paintAll(image, false);
  for (long top = kMargin; top + kGlyphH * kScale <= image.height() - kMargin; top += kPitch) {
    long left = kMargin + pick(rng, 3 * kAdvance);
    long wordLeft = 2 + pick(rng, 8);
    for (; left + kAdvance <= image.width() - kMargin; left += kAdvance) {
      if (wordLeft-- == 0) {
        wordLeft = 2 + pick(rng, 8);
        continue;  // the space between words
      }
      const Glyph& glyph = kFont[static_cast<std::size_t>(pick(rng, static_cast<long>(kFont.size())))];
      for (long gy = 0; gy < kGlyphH * kScale; ++gy) {
        const char* bits = glyph[static_cast<std::size_t>(gy / kScale)];
        for (long gx = 0; gx < kGlyphW * kScale; ++gx) {
          if (bits[gx / kScale] == '#') paintSpan(image, top + gy, left + gx, left + gx + 1, true);
        }
      }
    }
  }
}

}  // namespace

std::string className(ImageClass kind) {
  switch (kind) {
    case ImageClass::eParts: return "parts";
    case ImageClass::eNoise10: return "noise10";
    case ImageClass::eNoise50: return "noise50";
    case ImageClass::eNoiseTop: return "noisetop";
    case ImageClass::eChecker: return "checker";
    case ImageClass::eGlyphs: return "glyphs";
    case ImageClass::eEmpty: return "empty";
    case ImageClass::eFull: return "full";
  }
  return "unknown";
}

kcPelBuffer<unsigned char> makeImage(ImageClass kind, long side) {
  if (side < 16) throw kcBadArgument(L"benchmark images are at least 16 pels wide");
  kcPelBuffer<unsigned char> image(side, side);
  std::mt19937_64 rng(0x5eedULL * 4099 + static_cast<std::uint64_t>(side) * 16 + static_cast<std::uint64_t>(kind));
  switch (kind) {
    case ImageClass::eParts: paintParts(image, rng); break;
    case ImageClass::eNoise10: paintNoise(image, rng, 10); break;
    case ImageClass::eNoise50: paintNoise(image, rng, 50); break;
    case ImageClass::eNoiseTop:
      paintNoise(image, rng, 50);
      for (long y = side / 2; y < side; ++y) paintSpan(image, y, 0, side, false);
      break;
    case ImageClass::eChecker: paintChecker(image); break;
    case ImageClass::eGlyphs: paintGlyphs(image, rng); break;
    case ImageClass::eEmpty: paintAll(image, false); break;
    case ImageClass::eFull: paintAll(image, true); break;
  }
  return image;
}

std::vector<ImageSpec> standardSet() {
  return {{ImageClass::eParts, 2048},   {ImageClass::eParts, 4096},   {ImageClass::eNoise10, 2048},
          {ImageClass::eNoise50, 2048}, {ImageClass::eChecker, 1024}, {ImageClass::eChecker, 2048},
          {ImageClass::eGlyphs, 2048},  {ImageClass::eEmpty, 2048},     {ImageClass::eFull, 2048},
          {ImageClass::eNoise50, 8192}};
}

std::vector<ImageSpec> smallSet(long side) {
  std::vector<ImageSpec> set;
  for (ImageClass kind : {ImageClass::eParts, ImageClass::eNoise10, ImageClass::eNoise50, ImageClass::eNoiseTop,
                          ImageClass::eChecker, ImageClass::eGlyphs, ImageClass::eEmpty, ImageClass::eFull}) {
    set.push_back({kind, side});
  }
  return set;
}

}  // namespace bench
