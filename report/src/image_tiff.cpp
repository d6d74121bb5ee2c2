// TIFF through libtiff: grey samples of 1 to 8 bits as stored, colour through libtiff's RGBA
// conversion when a rule makes it grey, a page of a multi-page file, errors kept per file.
#include "image_formats.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

namespace report::formats {
namespace {

// Where libtiff's procedures read from: the file itself (a regular file, which can seek) or the
// bytes of a pipe held in memory.
struct TiffSource {
  std::FILE* file = nullptr;
  const std::vector<unsigned char>* bytes = nullptr;
  std::uint64_t size = 0;
  std::uint64_t at = 0;
};

tmsize_t tiffRead(thandle_t handle, void* data, tmsize_t length) {
  auto* s = static_cast<TiffSource*>(handle);
  if (length <= 0) return 0;
  const std::uint64_t want = std::min<std::uint64_t>(static_cast<std::uint64_t>(length), s->size - std::min(s->at, s->size));
  std::size_t got = 0;
  if (s->bytes != nullptr) {
    std::memcpy(data, s->bytes->data() + s->at, want);
    got = want;
  } else if (fseeko(s->file, static_cast<off_t>(s->at), SEEK_SET) == 0) {
    got = std::fread(data, 1, want, s->file);
  }
  s->at += got;
  return static_cast<tmsize_t>(got);
}
tmsize_t tiffWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<TiffSource*>(handle);
  const std::uint64_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->size : 0;
  s->at = base + offset;
  return s->at;
}
int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t handle) { return static_cast<TiffSource*>(handle)->size; }
int tiffMap(thandle_t, void**, toff_t*) { return 0; }
void tiffUnmap(thandle_t, void*, toff_t) {}

// The first error libtiff reports for one file; warnings are dropped.
struct TiffMessage {
  char text[200] = {};
};
int onTiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* m = static_cast<TiffMessage*>(user);
  if (m->text[0] == 0) {
    char what[160];
    std::vsnprintf(what, sizeof what, format, args);
    std::snprintf(m->text, sizeof m->text, "%s%s%s", module ? module : "", module ? ": " : "", what);
  }
  return 1;
}
int onTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// An open TIFF with its source and message; memoryLimit bounds any one allocation of libtiff's.
class TiffFile {
 public:
  TiffFile(TiffSource source, tmsize_t memoryLimit) : source_(source) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) throw ImageError("out of memory for the TIFF reader");
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, memoryLimit);
    TIFFOpenOptionsSetErrorHandlerExtR(options, &onTiffError, &message_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &onTiffWarning, nullptr);
    tif_.reset(TIFFClientOpenExt("TIFF", "rm", &source_, &tiffRead, &tiffWrite, &tiffSeek, &tiffClose, &tiffSize,
                                 &tiffMap, &tiffUnmap, options));
    TIFFOpenOptionsFree(options);
    if (!tif_) fail();
  }
  TIFF* get() const { return tif_.get(); }
  [[noreturn]] void fail() const {
    throw ImageError(std::string("damaged TIFF: ") + (message_.text[0] ? message_.text : "libtiff gave no reason"));
  }

 private:
  TiffSource source_;
  TiffMessage message_;
  TiffPtr tif_;
};

template <class T>
T field(TIFF* tif, ttag_t tag, T otherwise) {
  T value{};
  return TIFFGetFieldDefaulted(tif, tag, &value) == 1 ? value : otherwise;
}

// PelForm: how the pels of a strip or tile row become grey: samples of bits each, samples a pel
// (contiguous), read as grey (turned round when min-is-white), through a palette or as RGB.
struct PelForm {
  unsigned bits = 8;
  unsigned samples = 1;
  bool invert = false;
  const std::uint16_t* palette[3] = {nullptr, nullptr, nullptr};
  ColourToGrey rule = ColourToGrey::eRefuse;  // RGB (samples >= 3) or palette: how to make grey

  // convert(from, count, to): count pels packed from the first bit of from into bytes.
  void convert(const unsigned char* from, std::uint32_t count, unsigned char* to) const {
    const unsigned top = (1u << bits) - 1;
    for (std::uint32_t j = 0; j < count; ++j) {
      if (samples >= 3) {
        const unsigned char* p = from + std::size_t{j} * samples;
        to[j] = greyOf(rule, p[0], p[1], p[2]);
        continue;
      }
      const std::uint64_t bit = std::uint64_t{j} * bits;
      const unsigned v = bits == 8 ? from[j] : (from[bit / 8] >> (8 - bits - bit % 8)) & top;
      if (palette[0] != nullptr) to[j] = greyOf(rule, palette[0][v] >> 8, palette[1][v] >> 8, palette[2][v] >> 8);
      else to[j] = static_cast<unsigned char>(invert ? top - v : v);
    }
  }
};

void readPels(const TiffFile& tiff, GreyImage& image, const PelForm& form) {
  TIFF* tif = tiff.get();
  const unsigned pelBits = form.bits * form.samples;
  const auto width = static_cast<std::uint32_t>(image.width), height = static_cast<std::uint32_t>(image.height);
  if (TIFFIsTiled(tif)) {
    const auto tw = field<std::uint32_t>(tif, TIFFTAG_TILEWIDTH, 0), th = field<std::uint32_t>(tif, TIFFTAG_TILELENGTH, 0);
    const tmsize_t size = TIFFTileSize(tif);
    const std::uint64_t rowBytes = (std::uint64_t{tw} * pelBits + 7) / 8;
    if (tw == 0 || th == 0 || size <= 0 || static_cast<std::uint64_t>(size) < rowBytes * th) tiff.fail();
    std::vector<unsigned char> tile(static_cast<std::size_t>(size));
    for (std::uint32_t y0 = 0; y0 < height; y0 += th)
      for (std::uint32_t x0 = 0; x0 < width; x0 += tw) {
        if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, 0), tile.data(), size) < 0) tiff.fail();
        for (std::uint32_t y = y0; y < std::min(height, y0 + th); ++y)
          form.convert(tile.data() + (y - y0) * rowBytes, std::min(tw, width - x0),
                       image.pels.data() + std::size_t{y} * width + x0);
      }
    return;
  }
  const auto perStrip = std::min(field<std::uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, height), height);
  const tmsize_t size = TIFFStripSize(tif);
  if (perStrip == 0 || size <= 0) tiff.fail();
  const std::uint64_t rowBytes = (std::uint64_t{width} * pelBits + 7) / 8;
  std::vector<unsigned char> strip(static_cast<std::size_t>(size));
  for (std::uint32_t y0 = 0; y0 < height; y0 += perStrip) {
    const std::uint32_t rows = std::min(perStrip, height - y0);
    const tmsize_t got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y0, 0), strip.data(), size);
    if (got < 0) tiff.fail();
    if (static_cast<std::uint64_t>(got) < rowBytes * rows) throw ImageError("damaged TIFF: a strip ends early");
    for (std::uint32_t y = 0; y < rows; ++y)
      form.convert(strip.data() + y * rowBytes, width, image.pels.data() + std::size_t{y0 + y} * width);
  }
}

// readColour: libtiff's RGBA conversion, a band of rows at a time, each pel made grey by rule: for
// the kinds read by hand (grey, palette, contiguous RGB) libtiff's own needs a mapped file.
void readColour(const TiffFile& tiff, GreyImage& image, ColourToGrey rule) {
  char why[1024] = {};
  TIFFRGBAImage rgba{};
  if (!TIFFRGBAImageOK(tiff.get(), why) || !TIFFRGBAImageBegin(&rgba, tiff.get(), 0, why))
    throw ImageError(std::string("TIFF of a kind that cannot be read: ") + why);
  struct End {
    TIFFRGBAImage* image;
    ~End() { TIFFRGBAImageEnd(image); }
  } end{&rgba};
  rgba.req_orientation = ORIENTATION_TOPLEFT;
  const auto width = static_cast<std::uint32_t>(image.width), height = static_cast<std::uint32_t>(image.height);
  const std::uint32_t band = std::max<std::uint32_t>(1, std::min<std::uint32_t>(height, (1u << 22) / width));
  std::vector<std::uint32_t> raster(std::size_t{width} * band);
  for (std::uint32_t y0 = 0; y0 < height; y0 += band) {
    const std::uint32_t rows = std::min(band, height - y0);
    rgba.row_offset = static_cast<int>(y0);
    if (!TIFFRGBAImageGet(&rgba, raster.data(), width, rows)) tiff.fail();
    unsigned char* out = image.pels.data() + std::size_t{y0} * width;
    for (std::size_t i = 0; i < std::size_t{width} * rows; ++i)
      out[i] = greyOf(rule, TIFFGetR(raster[i]), TIFFGetG(raster[i]), TIFFGetB(raster[i]));
  }
}

TiffSource sourceOf(std::FILE* file, long long fileSize, const std::vector<unsigned char>& magic,
                    std::uint64_t maxPels, std::vector<unsigned char>& held) {
  if (fileSize >= 0) return TiffSource{file, nullptr, static_cast<std::uint64_t>(fileSize), 0};
  const std::uint64_t limit = std::min(maxPels, kMaxImagePels);
  held = readAll(file, magic, 4, limit, "TIFF");
  return TiffSource{nullptr, &held, held.size(), 0};
}

tmsize_t memoryLimit(std::uint64_t maxPels) {
  return static_cast<tmsize_t>(std::max<std::uint64_t>(std::uint64_t{64} << 20, 4 * std::min(maxPels, kMaxImagePels)));
}

}  // namespace

GreyImage readTiff(std::FILE* file, long long fileSize, const std::vector<unsigned char>& magic, std::uint64_t maxPels,
                   ColourToGrey grey, long page) {
  std::vector<unsigned char> held;
  const TiffFile tiff(sourceOf(file, fileSize, magic, maxPels, held), memoryLimit(maxPels));
  TIFF* tif = tiff.get();
  if (page > 1 && !TIFFSetDirectory(tif, static_cast<tdir_t>(page - 1)))
    throw ImageError("the TIFF has no page " + std::to_string(page));
  const auto width = field<std::uint32_t>(tif, TIFFTAG_IMAGEWIDTH, 0), height = field<std::uint32_t>(tif, TIFFTAG_IMAGELENGTH, 0);
  const auto bits = field<std::uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1);
  const auto samples = field<std::uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  const auto photometric = field<std::uint16_t>(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  const auto format = field<std::uint16_t>(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  if (bits > 8) throw ImageError(std::to_string(bits) + "-bit TIFF is not supported; convert the image to 8-bit grey");
  if (format != SAMPLEFORMAT_UINT) throw ImageError("TIFF of signed or floating-point samples is not supported");
  const auto planar = field<std::uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  const bool small = bits == 1 || bits == 2 || bits == 4 || bits == 8;
  const bool isGrey = samples == 1 && small && (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE);
  if (!isGrey) refuseColour("TIFF", grey);
  checkDimensions(width, height, maxPels);
  GreyImage image;
  image.width = static_cast<long>(width);
  image.height = static_cast<long>(height);
  image.pels.resize(std::size_t{width} * height);
  PelForm form{bits, samples, photometric == PHOTOMETRIC_MINISWHITE, {}, grey};
  const bool byHand = isGrey ||
                      (photometric == PHOTOMETRIC_PALETTE && samples == 1 && small &&
                       TIFFGetField(tif, TIFFTAG_COLORMAP, &form.palette[0], &form.palette[1], &form.palette[2]) == 1) ||
                      (photometric == PHOTOMETRIC_RGB && bits == 8 && samples >= 3 && planar == PLANARCONFIG_CONTIG);
  if (byHand) readPels(tiff, image, form);
  else readColour(tiff, image, grey);
  return image;
}

long countTiffPages(std::FILE* file, long long fileSize) {
  if (fileSize < 0) return 1;
  try {
    const TiffFile tiff(TiffSource{file, nullptr, static_cast<std::uint64_t>(fileSize), 0}, 64 << 20);
    return std::max<long>(1, static_cast<long>(TIFFNumberOfDirectories(tiff.get())));
  } catch (const ImageError&) {
    return 1;
  }
}

}  // namespace report::formats
