// The version of the project, which blob-analyze --version and the Python package's __version__ show.
#pragma once

#include <string_view>

namespace report {

// version(): "MAJOR.MINOR.PATCH", the version the build was configured with (project() in the top
// CMakeLists.txt), the one the shared libraries carry.
std::string_view version();

}  // namespace report
