// Colours of graphics: an RGB triple with the named colours drawing code uses.
#pragma once

#include <cstdint>

// kcColor: an 8-bit-per-channel RGB colour.
class kcColor {
 public:
  constexpr kcColor() = default;
  constexpr kcColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) : r_(r), g_(g), b_(b) {}

  constexpr std::uint8_t r() const { return r_; }
  constexpr std::uint8_t g() const { return g_; }
  constexpr std::uint8_t b() const { return b_; }
  constexpr bool operator==(const kcColor&) const = default;

  // The named colours. passColor and failColor mark an accepted and a rejected item.
  static constexpr kcColor blackColor() { return {0, 0, 0}; }
  static constexpr kcColor whiteColor() { return {255, 255, 255}; }
  static constexpr kcColor redColor() { return {255, 0, 0}; }
  static constexpr kcColor greenColor() { return {0, 255, 0}; }
  static constexpr kcColor blueColor() { return {0, 0, 255}; }
  static constexpr kcColor yellowColor() { return {255, 255, 0}; }
  static constexpr kcColor cyanColor() { return {0, 255, 255}; }
  static constexpr kcColor magentaColor() { return {255, 0, 255}; }
  static constexpr kcColor passColor() { return {0, 160, 0}; }
  static constexpr kcColor failColor() { return {200, 0, 0}; }

 private:
  std::uint8_t r_ = 0;
  std::uint8_t g_ = 0;
  std::uint8_t b_ = 0;
};
