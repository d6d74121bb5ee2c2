// Where blob-analyze writes its report: standard output, a device as it is, or a regular file
// replaced only by a whole report.
#pragma once

#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string>

namespace report {

// OutputError: the report could not be written. what() names the output and the system's reason
// when there is one; its wording is not promised.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// sameFile(a, b): true when writing a and b as OutputFile does would write one file: a and b are
// the same path text; or both name one existing regular file (same device and inode, through links
// and other spellings); or neither exists yet and both lead, through links, to the same name in the
// same folder (the folder compared by device and inode, or by its absolute path when it does not
// exist). A device or FIFO named twice is not counted: writing one destroys no file.
bool sameFile(const std::string& a, const std::string& b);

// isStandardOutput(path): true when path names the existing regular file standard output is.
bool isStandardOutput(const std::string& path);

// OutputFile: the destination of the report, chosen by its path:
//   - empty, or naming the file standard output already is: standard output;
//   - an existing file that is not regular (a device, a FIFO, a terminal): that file, written directly;
//   - otherwise the target is the regular file the path names or leads to through links, existing
//     or not. The report goes to a temporary file beside it (same folder, unique name, the target's
//     permission bits, or those of a new file) that commit() renames over the target. Until then
//     the target is untouched; if commit() is not reached or fails, the temporary file is removed.
class OutputFile {
 public:
  // OutputFile(path): opens the destination. Throws OutputError when it cannot be opened, or the
  // temporary file cannot be created (no such folder, no permission).
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // stream(): where the report is written; valid while the OutputFile lives.
  std::ostream& stream() { return *stream_; }

  // flush(): flushes the stream. Returns false once anything failed to be written; the reason of
  // the first failure is kept for commit().
  bool flush();

  // commit(): completes the report: flushes and, for a temporary file, closes it, syncs it to disk
  // and renames it over the target. Throws OutputError when any of the report failed to be written;
  // the temporary file is then removed and the target is as it was. Call it once, last.
  void commit();

 private:
  void openTemporary(const std::string& path, unsigned mode);
  void noteFailure(bool failed);
  void discard();

  std::string name_;         // the output as the user named it, for messages
  std::ostream* stream_;
  std::ofstream file_;       // a device, or the temporary file
  std::string target_;       // the regular file to replace; empty when written directly
  std::string temporary_;    // the temporary file while it exists
  int temporaryFd_ = -1;     // kept open to sync the temporary file before the rename
  bool failed_ = false;
  int failureErrno_ = 0;     // errno of the first failure, 0 when none was known
};

}  // namespace report
