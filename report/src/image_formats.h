// What the image readers of image_io.cpp share: the size checks, colour to grey, and the readers
// of the formats beyond PNG and PGM.
#pragma once

#include <report/image_io.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace report::formats {

// checkDimensions(width, height, maxPels): refuses an image with no pels or more than maxPels (at
// most kMaxImagePels) before it is stored.
void checkDimensions(std::uint64_t width, std::uint64_t height, std::uint64_t maxPels);

// greyOf(rule, r, g, b): one colour pel as grey by rule (not eRefuse).
inline unsigned char greyOf(ColourToGrey rule, unsigned r, unsigned g, unsigned b) {
  switch (rule) {
    case ColourToGrey::eRed: return static_cast<unsigned char>(r);
    case ColourToGrey::eGreen: return static_cast<unsigned char>(g);
    case ColourToGrey::eBlue: return static_cast<unsigned char>(b);
    default: return static_cast<unsigned char>((299 * r + 587 * g + 114 * b + 500) / 1000);
  }
}

// refuseColour(format, grey): throws the refusal of a colour image when grey is eRefuse.
void refuseColour(const char* format, ColourToGrey grey);

// readAll(file, prefix, perPel, maxPels, format): prefix followed by the rest of a pipe or device,
// read as it arrives so storage grows only with the data; throws ImageError past perPel * maxPels +
// kStreamSlackBytes bytes, so an endless stream is refused rather than held.
std::vector<unsigned char> readAll(std::FILE* file, const std::vector<unsigned char>& prefix, unsigned perPel,
                                   std::uint64_t maxPels, const char* format);

// The readers. Each starts with file after the magic bytes given (read already); fileSize is -1
// for a pipe or device.
GreyImage readTiff(std::FILE* file, long long fileSize, const std::vector<unsigned char>& magic,
                   std::uint64_t maxPels, ColourToGrey grey, long page);
long countTiffPages(std::FILE* file, long long fileSize);
GreyImage readJpeg(std::FILE* file, const std::vector<unsigned char>& magic, std::uint64_t maxPels,
                   ColourToGrey grey);
GreyImage readBmp(std::FILE* file, long long fileSize, std::uint64_t maxPels, ColourToGrey grey);

// isTiffMagic(bytes, n): the first n (at least 4) bytes open a classic or big TIFF.
inline bool isTiffMagic(const unsigned char* b) {
  return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

}  // namespace report::formats
