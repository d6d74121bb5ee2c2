// Fixed-seed 8-bit test images shared by the timing programs: parts, noise, checkerboard, glyphs,
// empty and full. Every generator is deterministic: the same class and side give the same pels.
#pragma once

#include <foundation/pelbuffer.h>

#include <string>
#include <vector>

namespace bench {

// Foreground pels are at or above this value, background pels below it, in every image class.
constexpr unsigned char kThreshold = 128;

enum class ImageClass {
  eParts,    // discs with holes (some holding an island) and a few specks on a textured background
  eNoise10,  // each pel foreground with probability 10 %
  eNoise50,  // each pel foreground with probability 50 %
  eChecker,  // checkerboard of 1-pel squares
  eGlyphs,   // lines of small text-like glyphs, many with holes
  eEmpty,    // background only
  eFull,     // foreground only
  eNoiseTop,  // noise50 over the top half, background below: content spread unevenly over the rows
};

// className(kind): the short name used in tables ("parts", "noise10", "noisetop", ...).
std::string className(ImageClass kind);

// makeImage(kind, side): a side x side image of the class. The number of parts grows with the
// area (400 on 2048 x 2048, 1000 on 4096 x 4096). Throws kcBadArgument when side is below 16.
// Cost: one pass over the pels plus the drawing.
kcPelBuffer<unsigned char> makeImage(ImageClass kind, long side);

// One entry of a benchmark set: a class at a size, with the name "class-side".
struct ImageSpec {
  ImageClass kind;
  long side;
  std::string name() const { return className(kind) + "-" + std::to_string(side); }
};

// standardSet(): parts at 2048 and 4096, the checkerboard at 1024 and 2048, every other class at
// 2048, and last noise50 at 8192 (the slow one: 64 Mpel of dense noise).
std::vector<ImageSpec> standardSet();
// smallSet(side): every class once at the given side (for quick agreement checks).
std::vector<ImageSpec> smallSet(long side);

}  // namespace bench
