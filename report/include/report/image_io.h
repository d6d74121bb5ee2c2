// Image files of the reports: PNG, PGM, TIFF, JPEG and BMP read as 8-bit grey (PNG and PGM also
// row by row); grey PNG and PGM written.
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

// ColourToGrey: how a colour image becomes grey (blob-analyze's --grey). eRefuse refuses it; eLuma
// takes round((299 R + 587 G + 114 B) / 1000); eRed, eGreen and eBlue take one channel. An alpha
// channel is ignored; a palette is looked up first.
enum class ColourToGrey { eRefuse, eLuma, eRed, eGreen, eBlue };

// readImage(path, maxPels, grey, page): the image in the file, whose format is recognised by its
// first bytes (not by its name). Accepted:
//   - PNG of colour type grey, bit depth 1, 2, 4 or 8, interlaced or not. Pel values are the
//     stored sample values, never rescaled (a 1-bit image holds 0 and 1); gamma, sBIT and
//     transparency chunks are ignored.
//   - PGM P5 with maxval 1..255: header tokens separated by white space, '#' comments to the end of
//     the line, exactly one white-space byte before the pels. Pel values are used as stored; a pel
//     above maxval is refused. Bytes after the first image are ignored.
//   - TIFF (libtiff; classic and BigTIFF, strips or tiles, any compression libtiff decodes) of one
//     grey sample of 1, 2, 4 or 8 bits. Values are the stored ones, except that a min-is-white image
//     is turned round (v becomes 2^bits - 1 - v) so that 0 is black in every format. page (from 1)
//     picks a page of a multi-page file (0: the first); tiffPages counts them.
//   - JPEG (libjpeg-turbo), grey as stored; baseline and progressive.
//   - BMP of 8 bits a pel with a palette whose entries are grey (the pel takes its entry's value),
//     uncompressed, bottom-up or top-down.
// Colour (PNG colour, palette or with alpha, TIFF RGB or palette, JPEG of three components, BMP of
// 24 or 32 bits or a colour palette) is refused unless grey says how to make it grey; 16-bit
// samples are always refused. page is refused for anything but a TIFF with that many pages.
// Refused with ImageError, before any pel storage is allocated: other formats, an image with no
// pels or more than maxPels pels (a maxPels above kMaxImagePels counts as kMaxImagePels), and a
// PNG whose stated size could not come out of a file that small (deflate packs at most 1032 bytes
// into one); and truncated or damaged data; for a PNG the message says where the file ends early
// or what failed (checksum, compressed data, missing rows) in plain words, for the others it
// quotes the decoding library.
// A PNG or TIFF from a pipe or device is held in memory before it is decoded, so that its length
// is known and storage grows only with the data that arrive; more than 2 * maxPels +
// kStreamSlackBytes bytes (4 * maxPels for a TIFF) after the first bytes are refused. PGM, JPEG and
// BMP are read in pieces, with the same effect.
GreyImage readImage(const std::string& path, std::uint64_t maxPels = kDefaultMaxPels,
                    ColourToGrey grey = ColourToGrey::eRefuse, long page = 0);

// ImageRows: a PNG or binary PGM read a band of rows at a time, for images taller than memory:
// what is held is one row (and libpng's state), never the image. path may be a pipe or device
// (/dev/stdin). Grey PNG of 1 to 8 bits and PGM as readImage reads them; colour, palette and alpha
// PNG with a grey rule. Refused with ImageError, naming the reason as readImage does: other
// formats, an interlaced PNG (its rows come in passes over the whole image), 16-bit samples, and
// damaged or truncated data, when the rows that hold them are read.
class ImageRows {
 public:
  explicit ImageRows(const std::string& path, ColourToGrey grey = ColourToGrey::eRefuse);
  ~ImageRows();
  ImageRows(const ImageRows&) = delete;
  ImageRows& operator=(const ImageRows&) = delete;

  long width() const;
  long height() const;
  // read(rows, out): the next min(rows, height() - rows read) rows into out (width() bytes each,
  // resized to fit); returns how many (0 after the last).
  long read(long rows, std::vector<unsigned char>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// tiffPages(path): the pages of a TIFF file (1 for any other file, readable or not, and for a pipe
// or device, which is not read from here); a TIFF that
// cannot be opened or whose page chain is damaged counts as 1, so that reading it reports why.
long tiffPages(const std::string& path);

// ImageInput: one image a run reads: a file, or a page of a multi-page TIFF. name() is how
// reports call it: the path, or "PATH#PAGE".
struct ImageInput {
  std::string path;
  long page = 0;  // 0: the file's only (or first) image
  std::string name() const { return page == 0 ? path : path + "#" + std::to_string(page); }
};

// expandPages(files): each file as an input, a TIFF of several pages as one input per page.
std::vector<ImageInput> expandPages(const std::vector<std::string>& files);

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
