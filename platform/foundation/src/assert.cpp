// The assertion facility's failure path.
#include <foundation/assert.h>
#include <foundation/exception.h>

#include <string>

void kfAssertFailed(const char* file, int line, const char* assumption) {
  std::string text = std::string("Internal check failed at ") + (file ? file : "?") + ":" +
                     std::to_string(line) + ": " + (assumption ? assumption : "");
  std::wstring wide(text.begin(), text.end());  // file names and assumptions are ASCII
  throw kcInvariantFailure(wide.c_str());
}
