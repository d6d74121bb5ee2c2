// blob-analyze's output: a regular file goes through a temporary file renamed over it when complete.
#include <report/output_file.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace report {
namespace {

bool statPath(const std::string& path, struct stat& status) { return ::stat(path.c_str(), &status) == 0; }

bool sameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Destination: the file a path leads to when written: through links to the file when it exists,
// else the path itself (a link that leads nowhere is replaced, as OutputFile does).
struct Destination {
  std::filesystem::path path;
  bool exists = false;
  struct stat file {};
  bool folderExists = false;
  struct stat folder {};
};

Destination destinationOf(const std::string& path) {
  Destination d;
  std::error_code error;
  d.path = std::filesystem::canonical(path, error);
  if (error) d.path = path;
  d.exists = statPath(d.path.string(), d.file);
  const std::filesystem::path folder = d.path.parent_path();
  d.folderExists = statPath(folder.empty() ? "." : folder.string(), d.folder);
  return d;
}

// The permission bits a new file gets: read and write for all, less the umask.
unsigned newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666u & ~static_cast<unsigned>(mask);
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const Destination first = destinationOf(a), second = destinationOf(b);
  if (first.exists || second.exists) {
    return first.exists && second.exists && S_ISREG(first.file.st_mode) && S_ISREG(second.file.st_mode) &&
           sameInode(first.file, second.file);
  }
  if (first.folderExists && second.folderExists) {
    return sameInode(first.folder, second.folder) && first.path.filename() == second.path.filename();
  }
  return first.folderExists == second.folderExists &&
         std::filesystem::absolute(first.path).lexically_normal() == std::filesystem::absolute(second.path).lexically_normal();
}

bool isStandardOutput(const std::string& path) {
  struct stat file {}, standardOutput {};
  return statPath(path, file) && S_ISREG(file.st_mode) && ::fstat(STDOUT_FILENO, &standardOutput) == 0 &&
         sameInode(file, standardOutput);
}

OutputFile::OutputFile(const std::string& path)
    : name_(path.empty() ? "standard output" : path), stream_(&std::cout) {
  if (path.empty()) return;
  struct stat target {}, standardOutput {};
  const bool exists = statPath(path, target);
  if (exists && ::fstat(STDOUT_FILENO, &standardOutput) == 0 && sameInode(target, standardOutput)) return;
  if (exists && !S_ISREG(target.st_mode)) {
    file_.open(path, std::ios::binary);
    if (!file_) throw OutputError("cannot write " + name_ + ": " + std::strerror(errno));
    stream_ = &file_;
    return;
  }
  try {
    openTemporary(path, exists ? static_cast<unsigned>(target.st_mode & 07777) : newFileMode());
  } catch (...) {
    discard();
    throw;
  }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::openTemporary(const std::string& path, unsigned mode) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);  // through links
  target_ = error ? path : resolved.string();
  const std::filesystem::path target(target_);
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  temporaryFd_ = ::mkstemp(pattern.data());
  if (temporaryFd_ < 0) throw OutputError("cannot write " + name_ + ": " + std::strerror(errno));
  temporary_ = pattern;
  file_.open(temporary_, std::ios::binary | std::ios::trunc);
  if (::fchmod(temporaryFd_, static_cast<mode_t>(mode)) != 0 || !file_) {
    throw OutputError("cannot write " + name_ + ": " + std::strerror(errno));
  }
  stream_ = &file_;
}

void OutputFile::noteFailure(bool failed) {
  if (!failed || failed_) return;
  failed_ = true;
  failureErrno_ = errno;
}

bool OutputFile::flush() {
  stream_->flush();
  noteFailure(!*stream_);
  return !failed_;
}

void OutputFile::commit() {
  flush();
  if (file_.is_open()) {
    file_.close();
    noteFailure(file_.fail());
  }
  if (temporaryFd_ >= 0) {
    noteFailure(::fsync(temporaryFd_) != 0);
    noteFailure(::close(temporaryFd_) != 0);
    temporaryFd_ = -1;
    if (!failed_) noteFailure(std::rename(temporary_.c_str(), target_.c_str()) != 0);
    if (!failed_) temporary_.clear();
  }
  if (failed_) {
    discard();
    const std::string reason = failureErrno_ != 0 ? std::string(": ") + std::strerror(failureErrno_) : "";
    throw OutputError("cannot write " + name_ + reason);
  }
}

void OutputFile::discard() {
  if (file_.is_open()) file_.close();
  if (temporaryFd_ >= 0) ::close(temporaryFd_);
  temporaryFd_ = -1;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

}  // namespace report
