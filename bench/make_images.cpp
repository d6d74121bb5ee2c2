// bench_make_images FOLDER COUNT SIDE [CLASS]: writes COUNT side x side images of a test class
// (default parts) as FOLDER/CLASS-NNN.png, for timing blob-analyze over a folder.
#include "bench_images.h"
#include <report/image_io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: bench_make_images FOLDER COUNT SIDE [parts|noise10|noise50|noisetop|checker|glyphs|empty|full]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const long count = std::atol(argv[2]), side = std::atol(argv[3]);
  const std::string name = argc == 5 ? argv[4] : "parts";
  // Any class of the benchmark images, by its table name.
  bool known = false;
  bench::ImageClass kind = bench::ImageClass::eParts;
  for (const bench::ImageSpec& entry : bench::smallSet(1)) {
    if (bench::className(entry.kind) == name) kind = entry.kind, known = true;
  }
  if (!known) {
    std::fprintf(stderr, "bench_make_images: unknown image class '%s'\n", name.c_str());
    return 2;
  }
  const kcPelBuffer<unsigned char> pels = bench::makeImage(kind, side);
  report::GreyImage image{side, side, {}};
  for (long y = 0; y < side; ++y) image.pels.insert(image.pels.end(), pels.pointToRow(y), pels.pointToRow(y) + side);
  for (long i = 0; i < count; ++i) {
    char file[32];
    std::snprintf(file, sizeof file, "-%03ld.png", i);
    report::writePng(folder + "/" + name + file, image);
  }
  return 0;
}
