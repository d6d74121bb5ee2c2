// The version, handed in by the build.
#include <report/version.h>

namespace report {

std::string_view version() { return BLOB_VERSION; }

}  // namespace report
