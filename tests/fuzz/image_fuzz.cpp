// libFuzzer entry: arbitrary bytes read as an image file of every known kind (each reader is
// picked by the first bytes), through every grey rule. A crash, a leak, a read out of bounds or an
// allocation past the ceiling is a finding; a refusal (ImageError) is the expected answer.
#include <report/image_io.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int file = memfd_create("image", 0);
  if (file < 0 || ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(file);
  const auto grey = static_cast<report::ColourToGrey>(size % 5);
  try {
    const long pages = report::tiffPages(path);
    report::readImage(path, std::uint64_t{1} << 20, grey, pages > 1 ? 2 : 0);
  } catch (const report::ImageError&) {
  }
  return 0;
}
