// Image files of the reports: PNG through libpng, PGM by hand, the other formats dispatched by
// their first bytes; every size checked before allocating.
#include <report/image_io.h>

#include "image_formats.h"

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>

namespace report {

namespace formats {

void checkDimensions(std::uint64_t width, std::uint64_t height, std::uint64_t maxPels) {
  if (width == 0 || height == 0) throw ImageError("the image has no pels");
  const std::uint64_t limit = std::min(maxPels, kMaxImagePels);
  if (width > static_cast<std::uint64_t>(kMaxImageSide) ||
      height > static_cast<std::uint64_t>(kMaxImageSide) || width * height > limit) {
    throw ImageError("the image of " + std::to_string(width) + " x " + std::to_string(height) +
                     " pels is larger than the limit of " + std::to_string(limit) + " pels (see --max-pels)");
  }
}

void refuseColour(const char* format, ColourToGrey grey) {
  if (grey == ColourToGrey::eRefuse)
    throw ImageError(std::string("colour ") + format + " is not supported without --grey; convert the image to 8-bit grey");
}

std::vector<unsigned char> readAll(std::FILE* file, const std::vector<unsigned char>& prefix, unsigned perPel,
                                   std::uint64_t maxPels, const char* format) {
  const std::uint64_t limit = perPel * maxPels + kStreamSlackBytes;
  std::vector<unsigned char> bytes(prefix);
  unsigned char piece[1 << 16];
  for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0;) {
    if (bytes.size() + got > limit) {
      throw ImageError(std::string("a ") + format + " from a pipe or device is limited to " + std::to_string(limit) +
                       " bytes (" + std::to_string(perPel) + " per pel of --max-pels " + std::to_string(maxPels) +
                       ", plus " + std::to_string(kStreamSlackBytes) + ")");
    }
    bytes.insert(bytes.end(), piece, piece + got);
  }
  if (std::ferror(file)) throw ImageError(std::string("read error: ") + std::strerror(errno));
  return bytes;
}

#ifndef BLOB_HAVE_TIFF
GreyImage readTiff(std::FILE*, long long, const std::vector<unsigned char>&, std::uint64_t, ColourToGrey, long) {
  throw ImageError("TIFF is not supported by this build (libtiff was not installed)");
}
long countTiffPages(std::FILE*, long long) { return 1; }
#endif
#ifndef BLOB_HAVE_JPEG
GreyImage readJpeg(std::FILE*, const std::vector<unsigned char>&, std::uint64_t, ColourToGrey) {
  throw ImageError("JPEG is not supported by this build (libjpeg-turbo was not installed)");
}
#endif

}  // namespace formats

namespace {

using formats::checkDimensions;

// The most bytes one byte of deflate data can expand to (a 258-byte match coded in two bits).
constexpr std::uint64_t kDeflateMaxRatio = 1032;
// PGM pels are read in pieces of this size, so storage grows only as data actually arrive.
constexpr std::size_t kPgmChunk = std::size_t{1} << 24;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openFile(const std::string& path, const char* mode) {
  FilePtr file(std::fopen(path.c_str(), mode));
  if (!file) throw ImageError(std::string("cannot open: ") + std::strerror(errno));
  return file;
}

// Size in bytes of the regular file behind file; -1 for pipes and devices. Throws for a directory.
long long regularFileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) return -1;
  if (S_ISDIR(status.st_mode)) throw ImageError("is a directory");
  return S_ISREG(status.st_mode) ? static_cast<long long>(status.st_size) : -1;
}

void checkImage(const GreyImage& image) {
  if (image.width < 1 || image.height < 1) throw ImageError("the image has no pels");
  if (image.pels.size() != static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height)) {
    throw ImageError("the pel count does not match the image size");
  }
}

// ---- PNG ----

// Where libpng's error handler leaves its text before jumping back. Fixed size: nothing is
// allocated on the error path.
struct PngMessage {
  char text[160] = {};
};

void onPngError(png_structp png, png_const_charp message) {
  auto* target = static_cast<PngMessage*>(png_get_error_ptr(png));
  std::snprintf(target->text, sizeof target->text, "%s", message ? message : "unknown error");
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Owns libpng's read structures.
class PngReader {
 public:
  explicit PngReader(PngMessage* message)
      : png_(png_create_read_struct(PNG_LIBPNG_VER_STRING, message, &onPngError, &onPngWarning)) {
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) {
      png_destroy_read_struct(&png_, nullptr, nullptr);
      throw ImageError("out of memory for the PNG reader");
    }
  }
  ~PngReader() { png_destroy_read_struct(&png_, &info_, nullptr); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
};

// How far decoding has got, which tells what a file that ends early is missing.
enum class PngStage { eHeader, eRows, eEnd };

// Where libpng's reads come from. readErrno is set when the system refused a read.
struct PngInput {
  std::FILE* file = nullptr;
  PngStage stage = PngStage::eHeader;
  int readErrno = 0;
};

void readPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, input->file) == length) return;
  if (std::ferror(input->file)) {
    input->readErrno = errno;
    png_error(png, "read error");
  }
  switch (input->stage) {
    case PngStage::eHeader:
      png_error(png, "the file ends inside the header, before the image data");
    case PngStage::eRows:
      png_error(png, "the file ends before the image data is complete");
    case PngStage::eEnd:
      png_error(png, "the file ends after the image data, before its end chunk (IEND)");
  }
}

// libpng's text for the common faults in plain words; any other text is kept as it is.
std::string plainPngText(const std::string& text) {
  if (text.find("CRC error") != std::string::npos) {
    return "a chunk does not match its checksum (" + text + ")";
  }
  if (text == "Not enough image data") return "the image data end before the last row";
  if (text == "bad adaptive filter value") return "a row of the image data has an unknown filter type";
  const std::string zlibPrefix = "IDAT: ";  // libpng names the chunk before zlib's own text
  if (text.compare(0, zlibPrefix.size(), zlibPrefix) == 0) {
    return "the compressed image data are damaged (" + text.substr(zlibPrefix.size()) + ")";
  }
  return text;
}

ImageError pngFailure(const PngInput& input, const PngMessage& message) {
  if (input.readErrno != 0) return ImageError(std::string("read error: ") + std::strerror(input.readErrno));
  return ImageError("damaged PNG: " + plainPngText(message.text));
}

// The three steps below call libpng, whose errors jump back to their setjmp. They hold no object
// with a destructor and return false after a jump, leaving the text in the reader's PngMessage.
bool pngReadHeader(png_structp png, png_infop info, PngInput& input, PngHeader& header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &input, &readPngBytes);
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(png, info);
  header.width = png_get_image_width(png, info);
  header.height = png_get_image_height(png, info);
  header.bitDepth = png_get_bit_depth(png, info);
  header.colourType = png_get_color_type(png, info);
  return true;
}

// pngPrepareRows: grey rows of one byte a pel; colour (with a rule for grey) as RGB rows, the
// palette looked up and alpha dropped.
bool pngPrepareRows(png_structp png, png_infop info, const PngHeader& header, int& passes, png_size_t& rowBytes) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (header.colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  else if (header.bitDepth < 8) png_set_packing(png);
  if ((header.colourType & PNG_COLOR_MASK_ALPHA) != 0) png_set_strip_alpha(png);
  if (header.colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  rowBytes = png_get_rowbytes(png, info);
  return true;
}

// RowSink: takes each finished row of a pass-less image (y, the row's bytes) as it is read.
struct RowSink {
  void (*take)(void* context, png_uint_32 y, const unsigned char* row);
  void* context;
};

// pngReadRows: the rows into pels, rowBytes apart, every pass when interlaced; with a sink (one
// pass only) every row into pels' first row and then to the sink.
bool pngReadRows(png_structp png, PngInput& input, unsigned char* pels, png_size_t rowBytes, png_uint_32 height,
                 int passes, const RowSink* sink) {
  if (setjmp(png_jmpbuf(png))) return false;
  input.stage = PngStage::eRows;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, sink ? pels : pels + rowBytes * y, nullptr);
      if (sink) sink->take(sink->context, y, pels);
    }
  }
  input.stage = PngStage::eEnd;
  png_read_end(png, nullptr);
  return true;
}

void refusePngKind(const PngHeader& header, ColourToGrey grey) {
  if (header.bitDepth > 8) throw ImageError("16-bit PNG is not supported; convert the image to 8-bit grey");
  if (grey != ColourToGrey::eRefuse) return;
  switch (header.colourType) {
    case PNG_COLOR_TYPE_GRAY:
      break;
    case PNG_COLOR_TYPE_PALETTE:
      throw ImageError("palette PNG is not supported without --grey; convert the image to 8-bit grey");
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      throw ImageError("grey PNG with an alpha channel is not supported without --grey; convert the image to 8-bit grey");
    default:
      throw ImageError("colour PNG is not supported without --grey; convert the image to 8-bit grey");
  }
}

// Colour PNG rows made grey as they come.
struct GreySink {
  ColourToGrey rule;
  png_uint_32 width;
  unsigned char* pels;
  static void take(void* context, png_uint_32 y, const unsigned char* rgb) {
    const auto* s = static_cast<const GreySink*>(context);
    unsigned char* out = s->pels + std::size_t{y} * s->width;
    for (std::size_t x = 0; x < s->width; ++x) out[x] = formats::greyOf(s->rule, rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
  }
};

GreyImage readPng(std::FILE* file, long long fileSize, std::uint64_t maxPels, ColourToGrey grey) {
  PngMessage message;
  PngReader reader(&message);
  PngInput input{file};
  PngHeader header;
  if (!pngReadHeader(reader.png(), reader.info(), input, header)) throw pngFailure(input, message);
  refusePngKind(header, grey);
  checkDimensions(header.width, header.height, maxPels);
  const auto bitDepth = static_cast<std::uint64_t>(header.bitDepth);
  const std::uint64_t packedRow = (std::uint64_t{header.width} * bitDepth + 7) / 8;
  if (fileSize >= 0 && packedRow * header.height > kDeflateMaxRatio * static_cast<std::uint64_t>(fileSize)) {
    throw ImageError("damaged PNG: a file of " + std::to_string(fileSize) + " bytes cannot hold " +
                     std::to_string(header.width) + " x " + std::to_string(header.height) + " pels");
  }
  int passes = 1;
  png_size_t rowBytes = 0;
  if (!pngPrepareRows(reader.png(), reader.info(), header, passes, rowBytes)) throw pngFailure(input, message);
  const bool colour = header.colourType != PNG_COLOR_TYPE_GRAY;
  if (rowBytes != std::size_t{header.width} * (colour ? 3 : 1)) throw ImageError("unexpected PNG row layout");
  GreyImage image;
  image.pels.resize(std::size_t{header.width} * header.height);
  bool read;
  if (!colour) {
    read = pngReadRows(reader.png(), input, image.pels.data(), rowBytes, header.height, passes, nullptr);
  } else if (passes == 1) {
    std::vector<unsigned char> rgb(rowBytes);
    GreySink grey1{grey, header.width, image.pels.data()};
    const RowSink sink{&GreySink::take, &grey1};
    read = pngReadRows(reader.png(), input, rgb.data(), rowBytes, header.height, 1, &sink);
  } else {  // interlaced: each pass adds to every row, so the RGB image is held whole
    std::vector<unsigned char> rgb(rowBytes * header.height);
    read = pngReadRows(reader.png(), input, rgb.data(), rowBytes, header.height, passes, nullptr);
    GreySink all{grey, header.width, image.pels.data()};
    for (png_uint_32 y = 0; read && y < header.height; ++y) GreySink::take(&all, y, rgb.data() + rowBytes * y);
  }
  if (!read) throw pngFailure(input, message);
  image.width = static_cast<long>(header.width);
  image.height = static_cast<long>(header.height);
  return image;
}

// A PNG from a pipe or device (its 8-byte signature already read): held in memory first, so that
// its length bounds the image it may state, as for a regular file.
GreyImage readPngStream(std::FILE* file, std::uint64_t maxPels, ColourToGrey grey) {
  const std::uint64_t limit = std::min(maxPels, kMaxImagePels);
  std::vector<unsigned char> bytes = formats::readAll(file, {}, 2, limit, "PNG");
  FilePtr memory(fmemopen(bytes.data(), bytes.size(), "rb"));
  if (!memory) throw ImageError(std::string("cannot read the PNG from memory: ") + std::strerror(errno));
  return readPng(memory.get(), 8 + static_cast<long long>(bytes.size()), maxPels, grey);
}

// ---- PNG writing ----

// The largest side the PNG format allows.
constexpr long kMaxPngSide = PNG_UINT_31_MAX;

void writePngBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::ostream*>(png_get_io_ptr(png))->write(reinterpret_cast<const char*>(data),
                                                         static_cast<std::streamsize>(length));
}

void flushPngBytes(png_structp png) { static_cast<std::ostream*>(png_get_io_ptr(png))->flush(); }

// As for reading: these call libpng, hold no object with a destructor and return false after a
// jump. libpng's own limit of a million pels a side is raised to what the format allows.
bool pngWriteHeader(png_structp png, png_infop info, std::ostream* out, png_uint_32 width, png_uint_32 height,
                    int colourType) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, &writePngBytes, &flushPngBytes);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  return true;
}

bool pngWriteRow(png_structp png, const unsigned char* pels) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_row(png, pels);
  return true;
}

bool pngWriteEnd(png_structp png) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_end(png, nullptr);
  return true;
}

// ---- PGM ----

bool isPgmSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads one header number: skips white space and comments, then takes decimal digits.
long readPgmNumber(std::FILE* file, const char* what) {
  int c = std::getc(file);
  while (isPgmSpace(c) || c == '#') {
    if (c == '#') {
      while (c != '\n' && c != '\r' && c != EOF) c = std::getc(file);
    }
    c = std::getc(file);
  }
  if (c < '0' || c > '9') throw ImageError(std::string("damaged PGM header: the ") + what + " is not a number");
  long value = 0;
  for (; c >= '0' && c <= '9'; c = std::getc(file)) {
    value = value * 10 + (c - '0');
    if (value > kMaxImageSide) throw ImageError(std::string("damaged PGM header: the ") + what + " is too large");
  }
  if (!isPgmSpace(c)) throw ImageError(std::string("damaged PGM header: no white space after the ") + what);
  return value;
}

GreyImage readPgm(std::FILE* file, std::uint64_t maxPels) {
  const int afterMagic = std::getc(file);
  if (!isPgmSpace(afterMagic) && afterMagic != '#') throw ImageError("damaged PGM header: no white space after P5");
  std::ungetc(afterMagic, file);
  const long width = readPgmNumber(file, "width");
  const long height = readPgmNumber(file, "height");
  const long maxval = readPgmNumber(file, "maxval");
  if (maxval < 1) throw ImageError("damaged PGM header: maxval must be at least 1");
  if (maxval > 255) throw ImageError("16-bit PGM (maxval above 255) is not supported");
  checkDimensions(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), maxPels);

  GreyImage image;
  const std::size_t total = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::size_t done = 0;
  while (done < total) {
    const std::size_t want = std::min(kPgmChunk, total - done);
    image.pels.resize(done + want);
    const std::size_t got = std::fread(image.pels.data() + done, 1, want, file);
    done += got;
    if (got < want) {
      if (std::ferror(file)) throw ImageError(std::string("read error: ") + std::strerror(errno));
      throw ImageError("truncated PGM: " + std::to_string(total) + " pel bytes expected, " +
                       std::to_string(done) + " present");
    }
  }
  const auto high = std::find_if(image.pels.begin(), image.pels.end(), [&](unsigned char v) { return v > maxval; });
  if (high != image.pels.end()) {
    const auto index = static_cast<std::size_t>(high - image.pels.begin());
    throw ImageError("damaged PGM: pel (" + std::to_string(index % static_cast<std::size_t>(width)) + ", " +
                     std::to_string(index / static_cast<std::size_t>(width)) + ") is above maxval " +
                     std::to_string(maxval));
  }
  image.width = width;
  image.height = height;
  return image;
}

[[noreturn]] void refuseNetpbm(unsigned char kind) {
  switch (kind) {
    case '2':
      throw ImageError("plain (ASCII) PGM is not supported; only binary PGM (P5)");
    case '3':
    case '6':
      throw ImageError("colour PPM is not supported; convert the image to 8-bit grey");
    case '1':
    case '4':
      throw ImageError("PBM is not supported; convert the image to 8-bit grey PGM");
    default:
      throw ImageError("not an image file of a known kind (PNG, PGM, TIFF, JPEG or BMP)");
  }
}

// pngReadOneRow: the next row of a pass-less PNG, false after a jump.
bool pngReadOneRow(png_structp png, unsigned char* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

bool pngFinish(png_structp png, PngInput& input) {
  if (setjmp(png_jmpbuf(png))) return false;
  input.stage = PngStage::eEnd;
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

struct ImageRows::State {
  FilePtr file;
  long width = 0;
  long height = 0;
  long done = 0;
  long pgmMaxval = 0;  // 0: a PNG
  ColourToGrey grey = ColourToGrey::eRefuse;
  PngMessage message;
  std::unique_ptr<PngReader> png;
  PngInput input;
  bool colour = false;
  std::vector<unsigned char> row;  // a colour PNG row
};

ImageRows::ImageRows(const std::string& path, ColourToGrey grey) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.file = openFile(path, "rb");
  s.grey = grey;
  unsigned char magic[8] = {};
  std::size_t got = std::fread(magic, 1, 2, s.file.get());
  if (got == 2 && magic[0] == 'P') {
    if (magic[1] != '5') refuseNetpbm(magic[1]);
    const int afterMagic = std::getc(s.file.get());
    if (!isPgmSpace(afterMagic) && afterMagic != '#') throw ImageError("damaged PGM header: no white space after P5");
    std::ungetc(afterMagic, s.file.get());
    s.width = readPgmNumber(s.file.get(), "width");
    s.height = readPgmNumber(s.file.get(), "height");
    s.pgmMaxval = readPgmNumber(s.file.get(), "maxval");
    if (s.pgmMaxval < 1) throw ImageError("damaged PGM header: maxval must be at least 1");
    if (s.pgmMaxval > 255) throw ImageError("16-bit PGM (maxval above 255) is not supported");
  } else if (got == 2 && magic[0] == 0x89 && std::fread(magic + 2, 1, 6, s.file.get()) == 6 &&
             png_sig_cmp(magic, 0, 8) == 0) {
    s.png = std::make_unique<PngReader>(&s.message);
    s.input.file = s.file.get();
    PngHeader header;
    if (!pngReadHeader(s.png->png(), s.png->info(), s.input, header)) throw pngFailure(s.input, s.message);
    refusePngKind(header, grey);
    if (png_get_interlace_type(s.png->png(), s.png->info()) != PNG_INTERLACE_NONE) {
      throw ImageError("an interlaced PNG cannot be read row by row; save it without interlacing");
    }
    int passes = 1;
    png_size_t rowBytes = 0;
    if (!pngPrepareRows(s.png->png(), s.png->info(), header, passes, rowBytes)) throw pngFailure(s.input, s.message);
    s.colour = header.colourType != PNG_COLOR_TYPE_GRAY;
    if (rowBytes != std::size_t{header.width} * (s.colour ? 3 : 1)) throw ImageError("unexpected PNG row layout");
    if (s.colour) s.row.resize(rowBytes);
    s.width = static_cast<long>(header.width);
    s.height = static_cast<long>(header.height);
    s.input.stage = PngStage::eRows;
  } else {
    if (std::ferror(s.file.get())) throw ImageError(std::string("read error: ") + std::strerror(errno));
    throw ImageError("not a PNG or binary PGM file, which are what can be read row by row");
  }
  if (s.width < 1 || s.height < 1) throw ImageError("the image has no pels");
}

ImageRows::~ImageRows() = default;
long ImageRows::width() const { return state_->width; }
long ImageRows::height() const { return state_->height; }

long ImageRows::read(long rows, std::vector<unsigned char>& out) {
  State& s = *state_;
  const long n = std::max(0L, std::min(rows, s.height - s.done));
  out.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(s.width));
  for (long r = 0; r < n; ++r) {
    unsigned char* pels = out.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(s.width);
    if (s.pgmMaxval != 0) {
      const std::size_t got = std::fread(pels, 1, static_cast<std::size_t>(s.width), s.file.get());
      if (got < static_cast<std::size_t>(s.width)) {
        if (std::ferror(s.file.get())) throw ImageError(std::string("read error: ") + std::strerror(errno));
        throw ImageError("truncated PGM: the file ends in row " + std::to_string(s.done + r) + " of " +
                         std::to_string(s.height));
      }
      const auto high = std::find_if(pels, pels + s.width, [&](unsigned char v) { return v > s.pgmMaxval; });
      if (high != pels + s.width) {
        throw ImageError("damaged PGM: pel (" + std::to_string(high - pels) + ", " + std::to_string(s.done + r) +
                         ") is above maxval " + std::to_string(s.pgmMaxval));
      }
    } else if (!pngReadOneRow(s.png->png(), s.colour ? s.row.data() : pels)) {
      throw pngFailure(s.input, s.message);
    } else if (s.colour) {
      GreySink sink{s.grey, static_cast<png_uint_32>(s.width), pels};
      GreySink::take(&sink, 0, s.row.data());
    }
  }
  s.done += n;
  if (n > 0 && s.done == s.height && s.png && !pngFinish(s.png->png(), s.input)) throw pngFailure(s.input, s.message);
  return n;
}

GreyImage readImage(const std::string& path, std::uint64_t maxPels, ColourToGrey grey, long page) {
  FilePtr file = openFile(path, "rb");
  const long long fileSize = regularFileSize(file.get());
  unsigned char magic[8] = {};
  std::size_t got = std::fread(magic, 1, 2, file.get());
  if (got == 2 && (magic[0] == 'I' || magic[0] == 'M')) got += std::fread(magic + 2, 1, 2, file.get());
  const bool tiff = got == 4 && formats::isTiffMagic(magic);
  if (page != 0 && !tiff) throw ImageError("a page is asked of a file that is not a TIFF");
  if (tiff) return formats::readTiff(file.get(), fileSize, {magic, magic + 4}, maxPels, grey, page);
  if (got == 2 && magic[0] == 'P') {
    if (magic[1] == '5') return readPgm(file.get(), maxPels);
    refuseNetpbm(magic[1]);
  }
  if (got == 2 && magic[0] == 0x89) {
    got += std::fread(magic + 2, 1, 6, file.get());
    if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) {
      return fileSize >= 0 ? readPng(file.get(), fileSize, maxPels, grey) : readPngStream(file.get(), maxPels, grey);
    }
  }
  if (got == 2 && magic[0] == 0xFF && magic[1] == 0xD8) return formats::readJpeg(file.get(), {magic, magic + 2}, maxPels, grey);
  if (got == 2 && magic[0] == 'B' && magic[1] == 'M') return formats::readBmp(file.get(), fileSize, maxPels, grey);
  if (std::ferror(file.get())) throw ImageError(std::string("read error: ") + std::strerror(errno));
  throw ImageError("not an image file of a known kind (PNG, PGM, TIFF, JPEG or BMP)");
}

long tiffPages(const std::string& path) {
  // Only a regular file is looked into: bytes read from a pipe would be lost to the image's reader.
  FilePtr file(std::fopen(path.c_str(), "rb"));
  long long size = -1;
  try {
    if (file) size = regularFileSize(file.get());
  } catch (const ImageError&) {
  }
  unsigned char magic[4] = {};
  if (size < 0 || std::fread(magic, 1, 4, file.get()) != 4 || !formats::isTiffMagic(magic)) return 1;
  return formats::countTiffPages(file.get(), size);
}

std::vector<ImageInput> expandPages(const std::vector<std::string>& files) {
  std::vector<ImageInput> inputs;
  for (const std::string& file : files) {
    const long pages = tiffPages(file);
    if (pages == 1) inputs.push_back(ImageInput{file, 0});
    for (long page = 1; pages > 1 && page <= pages; ++page) inputs.push_back(ImageInput{file, page});
  }
  return inputs;
}

void writePng(const std::string& path, const GreyImage& image) {
  checkImage(image);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw ImageError(std::string("cannot write PNG: ") + std::strerror(errno));
  PngWriter writer(file, image.width, image.height, 1);
  for (long y = 0; y < image.height; ++y) writer.row(image.pels.data() + static_cast<std::size_t>(y * image.width));
  writer.finish();
  file.close();
  if (!file) throw ImageError(std::string("cannot write PNG: ") + std::strerror(errno));
}

kcPelBuffer<unsigned char> toPelBuffer(const GreyImage& image) {
  kcPelBuffer<unsigned char> pels(image.width, image.height);
  for (long y = 0; y < image.height; ++y) {
    std::memcpy(pels.pointToRow(y), image.pels.data() + static_cast<std::size_t>(y * image.width),
                static_cast<std::size_t>(image.width));
  }
  return pels;
}

void writePgm(const std::string& path, const GreyImage& image) {
  checkImage(image);
  FilePtr file = openFile(path, "wb");
  const bool written =
      std::fprintf(file.get(), "P5\n%ld %ld\n255\n", image.width, image.height) > 0 &&
      std::fwrite(image.pels.data(), 1, image.pels.size(), file.get()) == image.pels.size();
  if (!written || std::fclose(file.release()) != 0) {
    throw ImageError(std::string("cannot write PGM: ") + std::strerror(errno));
  }
}

// ---- PngWriter ----

struct PngWriter::State {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngMessage message;
  long height = 0;
  long rowsWritten = 0;
  bool broken = false;

  ~State() { png_destroy_write_struct(&png, &info); }
};

PngWriter::PngWriter(std::ostream& out, long width, long height, int channels) : state_(std::make_unique<State>()) {
  if (width < 1 || height < 1 || width > kMaxPngSide || height > kMaxPngSide || (channels != 1 && channels != 3)) {
    throw ImageError("cannot write PNG: a " + std::to_string(width) + " x " + std::to_string(height) +
                     " image of " + std::to_string(channels) + " channels");
  }
  State& s = *state_;
  s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.message, &onPngError, &onPngWarning);
  if (s.png) s.info = png_create_info_struct(s.png);
  if (!s.png || !s.info) throw ImageError("out of memory for the PNG writer");
  s.height = height;
  const int colourType = channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
  if (!pngWriteHeader(s.png, s.info, &out, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                      colourType)) {
    throw ImageError(std::string("cannot write PNG: ") + s.message.text);
  }
}

PngWriter::~PngWriter() = default;

void PngWriter::row(const unsigned char* pels) {
  State& s = *state_;
  if (s.broken || s.rowsWritten >= s.height) throw ImageError("cannot write PNG: a row beyond the image");
  if (!pngWriteRow(s.png, pels)) {
    s.broken = true;
    throw ImageError(std::string("cannot write PNG: ") + s.message.text);
  }
  ++s.rowsWritten;
}

void PngWriter::finish() {
  State& s = *state_;
  if (s.broken || s.rowsWritten != s.height) {
    throw ImageError("cannot write PNG: " + std::to_string(s.rowsWritten) + " of " + std::to_string(s.height) +
                     " rows given");
  }
  s.broken = true;  // nothing may follow
  if (!pngWriteEnd(s.png)) throw ImageError(std::string("cannot write PNG: ") + s.message.text);
}

}  // namespace report
