// Image files of the reports: 8-bit grey PNG and binary PGM (P5), read and written.
#pragma once

#include <foundation/pelbuffer.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace report {

// GreyImage: width x height 8-bit pels, row after row with no padding (pels[y * width + x]).
struct GreyImage {
  long width = 0;
  long height = 0;
  std::vector<unsigned char> pels;
};

// ImageError: a file could not be read or written. what() is a one-line reason without the file
// name (callers add it); its wording is not promised.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest image ever accepted, in pels; both sides must also be at most kMaxImageSide.
inline constexpr std::uint64_t kMaxImagePels = std::uint64_t{1} << 31;
inline constexpr long kMaxImageSide = 0x7fffffffL;
// The ceiling readImage applies when the caller names none (blob-analyze's --max-pels default).
inline constexpr std::uint64_t kDefaultMaxPels = std::uint64_t{1} << 28;
// A PNG that is not a regular file (a pipe, a device) is read into memory before decoding, at most
// 2 bytes per pel of the ceiling plus this much for the chunks around the image data.
inline constexpr std::uint64_t kStreamSlackBytes = std::uint64_t{1} << 24;

// readImage(path, maxPels): the image in the file, whose format is recognised by its first bytes
// (not by its name). Accepted:
//   - PNG of colour type grey, bit depth 1, 2, 4 or 8, interlaced or not. Pel values are the
//     stored sample values, never rescaled (a 1-bit image holds 0 and 1); gamma, sBIT and
//     transparency chunks are ignored.
//   - PGM P5 with maxval 1..255: header tokens separated by white space, '#' comments to the end of
//     the line, exactly one white-space byte before the pels. Pel values are used as stored; a pel
//     above maxval is refused. Bytes after the first image are ignored.
// Refused with ImageError, before any pel storage is allocated: other PNG colour types (colour,
// palette, grey with alpha), 16-bit PNG, maxval above 255, plain (P2) PGM, other formats, an image
// with no pels or more than maxPels pels (a maxPels above kMaxImagePels counts as kMaxImagePels),
// and a PNG whose stated size could not come out of a file that small (deflate packs at most 1032
// bytes into one), and truncated or damaged data; for a PNG the message says where the file ends
// early or what failed (checksum, compressed data, missing rows) in plain words.
// A PNG from a pipe or device is held in memory before it is decoded, so that its length is known
// and storage grows only with the data that arrive; more than 2 * maxPels + kStreamSlackBytes bytes
// after the signature are refused. A PGM is read in pieces, with the same effect.
GreyImage readImage(const std::string& path, std::uint64_t maxPels = kDefaultMaxPels);

// writePng(path, image), writePgm(path, image): write image as 8-bit grey PNG or as PGM P5 with
// maxval 255, replacing the file. Throw ImageError when the image is empty or inconsistent
// (pels.size() != width * height) or the file cannot be written; a partly written file may remain.
void writePng(const std::string& path, const GreyImage& image);
void writePgm(const std::string& path, const GreyImage& image);

// toPelBuffer(image): the image as the library's pel image (a copy of the pels).
kcPelBuffer<unsigned char> toPelBuffer(const GreyImage& image);

// PngWriter: a PNG file of width x height pels of 1 (grey) or 3 (RGB) 8-bit channels, written to a
// stream row by row as the rows are given: the writer holds a few rows and the compressor's state,
// never the image. Any size the format allows is accepted (each side up to 2^31 - 1 pels).
class PngWriter {
 public:
  // PngWriter(out, width, height, channels): writes the signature and the header to out, which
  // must outlive the writer. Throws ImageError when a side is outside 1 .. 2^31 - 1, channels is
  // not 1 or 3, or libpng refuses.
  PngWriter(std::ostream& out, long width, long height, int channels);
  ~PngWriter();
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;

  // row(pels): the next row, width * channels bytes. Throws ImageError after the last row or when
  // libpng fails; the writer is then unusable. Stream failures are left in out's state.
  void row(const unsigned char* pels);
  // finish(): completes the file. Throws ImageError when rows are missing or libpng fails. Call
  // once, after the last row.
  void finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace report
