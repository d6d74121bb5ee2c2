// JPEG through libjpeg-turbo: grey as stored, three components made grey by a rule; a warning
// (data that end early or are corrupt) fails the image like an error.
#include "image_formats.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace report::formats {
namespace {

// libjpeg's error manager extended with the jump back and the first message.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  (*info->err->format_message)(info, errors->text);
  std::longjmp(errors->jump, 1);
}

void onJpegMessage(j_common_ptr info, int level) {
  if (level < 0) onJpegError(info);  // warnings: truncated or corrupt data
}

// The source: the two bytes already read, then the file as it comes (a pipe works).
struct JpegSource {
  jpeg_source_mgr manager;
  std::FILE* file;
  unsigned char buffer[1 << 16];
  bool fromPrefix;
  unsigned char prefix[2];
};

void jpegInit(j_decompress_ptr) {}
boolean jpegFill(j_decompress_ptr info) {
  auto* s = reinterpret_cast<JpegSource*>(info->src);
  std::size_t got;
  if (s->fromPrefix) {
    std::memcpy(s->buffer, s->prefix, 2);
    got = 2;
    s->fromPrefix = false;
  } else {
    got = std::fread(s->buffer, 1, sizeof s->buffer, s->file);
  }
  if (got == 0) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    std::snprintf(errors->text, sizeof errors->text, "the file ends before the image data is complete");
    std::longjmp(errors->jump, 1);
  }
  s->manager.next_input_byte = s->buffer;
  s->manager.bytes_in_buffer = got;
  return TRUE;
}
void jpegSkip(j_decompress_ptr info, long count) {
  auto* s = reinterpret_cast<JpegSource*>(info->src);
  while (count > static_cast<long>(s->manager.bytes_in_buffer)) {
    count -= static_cast<long>(s->manager.bytes_in_buffer);
    jpegFill(info);
  }
  s->manager.next_input_byte += count;
  s->manager.bytes_in_buffer -= static_cast<std::size_t>(count);
}
void jpegTerm(j_decompress_ptr) {}

struct Decoder {
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  JpegSource source{};
  ~Decoder() { jpeg_destroy_decompress(&info); }
};

// decode(d, ...): everything that calls libjpeg, which jumps back here on an error; holds no
// object with a destructor. Returns false after a jump, the text in d.errors.
bool decode(Decoder& d, std::uint64_t maxPels, ColourToGrey grey, GreyImage& image, std::vector<unsigned char>& row,
            bool& refused) {
  if (setjmp(d.errors.jump)) return false;
  jpeg_read_header(&d.info, TRUE);
  const bool isGrey = d.info.num_components == 1;
  if (!isGrey && grey == ColourToGrey::eRefuse) {
    refused = true;
    return true;
  }
  checkDimensions(d.info.image_width, d.info.image_height, maxPels);
  d.info.out_color_space = isGrey ? JCS_GRAYSCALE : JCS_RGB;
  d.info.mem->max_memory_to_use = static_cast<long>(std::max<std::uint64_t>(64 << 20, 8 * std::min(maxPels, kMaxImagePels)));
  jpeg_start_decompress(&d.info);
  const std::size_t width = d.info.output_width;
  image.width = static_cast<long>(width);
  image.height = static_cast<long>(d.info.output_height);
  image.pels.resize(width * d.info.output_height);
  row.resize(width * static_cast<std::size_t>(d.info.output_components));
  while (d.info.output_scanline < d.info.output_height) {
    unsigned char* out = image.pels.data() + width * d.info.output_scanline;
    JSAMPROW target = isGrey ? out : row.data();
    jpeg_read_scanlines(&d.info, &target, 1);
    if (!isGrey)
      for (std::size_t x = 0; x < width; ++x) out[x] = greyOf(grey, row[3 * x], row[3 * x + 1], row[3 * x + 2]);
  }
  jpeg_finish_decompress(&d.info);
  return true;
}

}  // namespace

GreyImage readJpeg(std::FILE* file, const std::vector<unsigned char>& magic, std::uint64_t maxPels, ColourToGrey grey) {
  Decoder d;
  d.info.err = jpeg_std_error(&d.errors.manager);
  d.errors.manager.error_exit = &onJpegError;
  d.errors.manager.emit_message = &onJpegMessage;
  jpeg_create_decompress(&d.info);
  d.source.manager = jpeg_source_mgr{nullptr, 0, &jpegInit, &jpegFill, &jpegSkip, &jpeg_resync_to_restart, &jpegTerm};
  d.source.file = file;
  d.source.fromPrefix = true;
  std::memcpy(d.source.prefix, magic.data(), 2);
  d.info.src = &d.source.manager;
  GreyImage image;
  std::vector<unsigned char> row;
  bool refused = false;
  if (!decode(d, maxPels, grey, image, row, refused)) {
    if (std::ferror(file)) throw ImageError(std::string("read error: ") + std::strerror(errno));
    throw ImageError(std::string("damaged JPEG: ") + d.errors.text);
  }
  if (refused) refuseColour("JPEG", grey);
  return image;
}

}  // namespace report::formats
