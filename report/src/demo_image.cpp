// The built-in demo image: parts with holes, touching and nested objects, grey-level variation.
#include <report/demo_image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace report {
namespace {

constexpr long kWidth = 256;
constexpr long kHeight = 192;
constexpr unsigned char kBackgroundMax = 70;

// A small deterministic hash of a pel position, 0..7.
unsigned noiseAt(long x, long y) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return h & 7u;
}

unsigned char backgroundAt(long x, long y) {
  return static_cast<unsigned char>(20 + (x + y) / 12 + noiseAt(x, y));
}

// A part's shade: brighter towards the top left, 150..245.
unsigned char partAt(long x, long y) {
  const long shade = 245 - (x + 2 * y) / 8 + static_cast<long>(noiseAt(y, x));
  return static_cast<unsigned char>(std::clamp(shade, 150L, 245L));
}

bool inDisc(long x, long y, double cx, double cy, double r) {
  const double dx = static_cast<double>(x) + 0.5 - cx;
  const double dy = static_cast<double>(y) + 0.5 - cy;
  return dx * dx + dy * dy <= r * r;
}

bool inEllipse(long x, long y, double cx, double cy, double a, double b, double angle) {
  const double dx = static_cast<double>(x) + 0.5 - cx;
  const double dy = static_cast<double>(y) + 0.5 - cy;
  const double u = dx * std::cos(angle) + dy * std::sin(angle);
  const double v = -dx * std::sin(angle) + dy * std::cos(angle);
  return (u * u) / (a * a) + (v * v) / (b * b) <= 1.0;
}

// Whether pel (x, y) belongs to a part (and not to one of the parts' holes).
bool isPart(long x, long y) {
  const bool plate = x >= 16 && x < 104 && y >= 16 && y < 76 && !inDisc(x, y, 40, 46, 11) &&
                     !inDisc(x, y, 80, 46, 13);
  const bool discs = inDisc(x, y, 148, 42, 19) || inDisc(x, y, 182, 42, 15.5);
  const bool ring = inDisc(x, y, 60, 138, 40) && !inDisc(x, y, 60, 138, 29);
  const bool island = inDisc(x, y, 60, 138, 19) && !inDisc(x, y, 60, 138, 8);
  const bool ellipse = inEllipse(x, y, 168, 138, 42, 15, 0.5);
  const bool cut = inDisc(x, y, 256, 96, 22);
  const bool speck = x >= 228 && x < 231 && y >= 168 && y < 171;
  return plate || discs || ring || island || ellipse || cut || speck;
}

}  // namespace

GreyImage makeDemoImage() {
  GreyImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.pels.resize(static_cast<std::size_t>(kWidth * kHeight));
  for (long y = 0; y < kHeight; ++y) {
    for (long x = 0; x < kWidth; ++x) {
      const unsigned char value = isPart(x, y) ? partAt(x, y) : std::min(backgroundAt(x, y), kBackgroundMax);
      image.pels[static_cast<std::size_t>(y * kWidth + x)] = value;
    }
  }
  return image;
}

}  // namespace report
