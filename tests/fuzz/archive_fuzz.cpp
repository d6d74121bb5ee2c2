// libFuzzer entry: arbitrary bytes loaded as every archived class, and everything asked of what
// loaded. An internal assertion, a crash, a leak or a stored form that does not load again is a
// finding.
#include "archive_exercise.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  archive_exercise::loadAndQueryAll(data, size);
  return 0;
}
