// blob-analyze: finds and measures the blobs of grey images from the command line.
#include "analysis_adapter.h"
#include "batch.h"
#include "options.h"
#include "stream_run.h"

#include <report/demo_image.h>
#include <report/features_file.h>
#include <report/html_report.h>
#include <report/image_io.h>
#include <report/inputs.h>
#include <report/output_file.h>
#include <report/output_format.h>

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <iterator>
#include <utility>
#include <new>

namespace {

using namespace tool;
using namespace report;

constexpr int kExitFailure = 1;  // some image failed, or the output could not be written
constexpr int kExitUsage = 2;
int refuseUsage(const std::string& message) {
  std::cerr << "blob-analyze: " << message << "\nTry 'blob-analyze --help'.\n";
  return kExitUsage;
}

// Refuses an output (--output, --overlay, --label-image, --features) that would write an input
// image, the mask, another output or, when the report goes to standard output, the regular file
// standard output is, before anything is read or written. Outputs are compared by the file they
// will be, whether it exists yet or not (see sameFile).
void refuseOutputOverInput(const Options& options, const std::vector<ImageInput>& files) {
  std::vector<std::pair<std::string, const std::string*>> inputs;  // what is refused, the path
  for (const ImageInput& file : files) inputs.emplace_back("the input " + file.path, &file.path);
  if (!options.maskPath.empty()) inputs.emplace_back("the --mask " + options.maskPath, &options.maskPath);
  const std::pair<const char*, const std::string*> outputs[] = {
      {"--output", &options.outputPath},
      {"--overlay", &options.overlayPath},
      {"--label-image", &options.labelImagePath},
      {"--features", &options.featuresPath},
      {"--html", &options.htmlPath}};
  for (std::size_t i = 0; i < std::size(outputs); ++i) {
    const auto& [option, path] = outputs[i];
    if (path->empty()) continue;
    for (const auto& [input, inputPath] : inputs) {
      if (sameFile(*path, *inputPath)) throw UsageError(std::string(option) + " " + *path + " would overwrite " + input);
    }
    for (std::size_t k = i + 1; k < std::size(outputs); ++k) {
      const auto& [otherOption, otherPath] = outputs[k];
      if (!otherPath->empty() && sameFile(*path, *otherPath)) {
        throw UsageError(std::string(option) + " " + *path + " and " + otherOption + " " + *otherPath +
                         " name the same file");
      }
    }
    if (options.outputPath.empty() && isStandardOutput(*path)) {
      throw UsageError(std::string(option) + " " + *path + " is the file standard output writes the report to");
    }
  }
}

// Reads and analyses one image (the demo image when input is null); failures land in report.error.
// pictures: whether the --overlay and --label-image pictures are made of this image.
void analyseOne(Analyzer& analyzer, const Options& options, const ImageInput* input, ImageReport& report,
                Extras& extras, bool pictures) {
  report.demo = input == nullptr;
  if (input != nullptr) report.file = input->name();
  try {
    analyzer.analyse(input == nullptr ? makeDemoImage() : readImage(input->path, options.maxPels, options.grey, input->page),
                     report, &extras, pictures);
  } catch (const ImageError& error) {
    report.error = error.what();
  } catch (const AnalysisError& error) {
    report.error = error.what();
  } catch (const std::bad_alloc&) {
    report.error = "out of memory";
  } catch (const std::exception& error) {
    report.error = error.what();
  }
  if (!report.error.empty()) report.blobs.reset();
}

// One image's outcome, reported on standard error when it failed.
void reportFailure(const ImageReport& report) {
  if (report.error.empty()) return;
  std::cerr << "blob-analyze: " << (report.demo ? "demo image" : report.file) << ": " << report.error << '\n';
}

// One image's report and extras.
struct Done {
  ImageReport report;
  Extras extras;
};

// Analyses the images on `jobs` threads, each with its own analyzer, handing the outcomes to
// `write` in input order. Workers run at most a few images ahead of the writer, so memory stays
// bounded; they stop once `write` returns false.
template <class Write>
void analyseInParallel(const Analyzer& analyzer, const Options& options, const std::vector<ImageInput>& files,
                       std::size_t jobs, Write write) {
  const std::size_t window = 4 * jobs;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::optional<Done>> reports(files.size());
  std::size_t next = 0, written = 0;
  bool stop = false;
  auto work = [&](std::unique_ptr<Analyzer> own) {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || next >= files.size() || next < written + window; });
        if (stop || next >= files.size()) return;
        index = next++;
      }
      Done done;
      analyseOne(*own, options, &files[index], done.report, done.extras, index == 0);
      std::lock_guard lock(mutex);
      reports[index] = std::move(done);
      changed.notify_all();
    }
  };
  auto halt = [&] {
    std::lock_guard lock(mutex);
    stop = true;
    changed.notify_all();
  };
  std::vector<std::thread> workers;
  try {
    for (std::size_t j = 0; j < jobs; ++j) workers.emplace_back(work, analyzer.clone());
    for (std::size_t i = 0; i < files.size(); ++i) {
      Done done;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return reports[i].has_value(); });
        done = std::move(*reports[i]);
        reports[i].reset();
      }
      const bool more = write(i, done);
      std::lock_guard lock(mutex);
      written = i + 1;
      stop = !more;
      changed.notify_all();
      if (stop) break;
    }
  } catch (...) {
    halt();
    for (std::thread& worker : workers) worker.join();
    throw;
  }
  halt();
  for (std::thread& worker : workers) worker.join();
}

// Writes the features of done's image and keeps its pictures, if any, in pictures; reports what
// failed on standard error. Returns false when something failed.
bool writeExtras(const Options& options, FeaturesFile& features, Done& done, Extras& pictures, ProgressLine& progress) {
  const ImageReport& report = done.report;
  std::vector<std::string> failures = std::move(done.extras.pictureErrors);
  const std::string featuresFailure = features.image(report, done.extras.scene.get(), options.shown);
  done.extras.scene.reset();
  if (!featuresFailure.empty()) {
    failures.push_back((report.demo ? "demo image" : report.file) + ": --features " + options.featuresPath + ": " +
                       featuresFailure);
  }
  if (done.extras.overlay) pictures.overlay = std::move(done.extras.overlay);
  if (done.extras.labelImage) pictures.labelImage = std::move(done.extras.labelImage);
  if (!failures.empty()) progress.clear();
  for (const std::string& failure : failures) std::cerr << "blob-analyze: " << failure << '\n';
  return failures.empty();
}

std::vector<std::string> measureNames(const Options& options) {
  std::vector<std::string> names;
  for (const MeasureInfo& info : options.measures) names.emplace_back(info.name);
  return names;
}

// Analyses every image and writes the report, the features and the page (html, when asked); stops
// early once the output fails (commit() tells). The pictures of the first image, uncommitted, land
// in pictures.
int run(const Options& options, Analyzer& analyzer, OutputFile& output, FeaturesFile& features, HtmlReport* html,
        Extras& pictures, const std::vector<ImageInput>& files) {
  const auto writer = makeReportWriter(options.format, output.stream(), measureNames(options));

  const bool demo = files.empty();
  const std::size_t total = demo ? 1 : files.size();
  ProgressLine progress(total, total > 1 && isatty(STDERR_FILENO) != 0);
  // Output to the same terminal would be overwritten by the progress line: clear it first.
  const bool outputOnTerminal = options.outputPath.empty() && isatty(STDOUT_FILENO) != 0;
  bool anyFailed = false;
  auto write = [&](std::size_t index, Done& done) {
    const ImageReport& report = done.report;
    if (!report.error.empty() || outputOnTerminal) progress.clear();
    if (!report.error.empty()) anyFailed = true;
    reportFailure(report);
    writer->image(report);
    if (html != nullptr) html->image(report, done.extras.htmlFigure);
    if (!writeExtras(options, features, done, pictures, progress)) anyFailed = true;
    progress.done(index + 1);
    return output.flush();
  };
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t jobs = std::min(total, options.jobs > 0 ? static_cast<std::size_t>(options.jobs) : cores);
  analyzer.threads(threadsPerImage(options.threads, jobs, cores));
  if (jobs > 1) {
    analyseInParallel(analyzer, options, files, jobs, write);
  } else {
    for (std::size_t i = 0; i < total; ++i) {
      Done done;
      analyseOne(analyzer, options, demo ? nullptr : &files[i], done.report, done.extras, i == 0);
      if (!write(i, done)) break;
    }
  }
  progress.clear();
  writer->finish();
  if (html != nullptr) html->finish();
  return anyFailed ? kExitFailure : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help || options.version) {
      std::cout << (options.help ? helpText() : versionText());
      return std::cout.flush() ? 0 : kExitFailure;
    }
    const std::vector<ImageInput> files = expandPages(expandInputs(options.images, options.recursive));
    refuseOutputOverInput(options, files);
    if (options.stream) {
      OutputFile output(options.outputPath);
      int status = 0;
      try {
        runStream(options, output.stream());
      } catch (const StreamError& error) {
        std::cerr << "blob-analyze: " << error.what() << '\n';
        status = kExitFailure;
      }
      output.commit();
      return status;
    }
    Analyzer analyzer(options);
    OutputFile output(options.outputPath);
    FeaturesFile features(options.featuresPath);
    std::unique_ptr<OutputFile> page;
    std::unique_ptr<HtmlReport> html;
    if (!options.htmlPath.empty()) {
      page = std::make_unique<OutputFile>(options.htmlPath);
      html = std::make_unique<HtmlReport>(page->stream(), measureNames(options));
    }
    Extras pictures;
    int status = run(options, analyzer, output, features, html.get(), pictures, files);
    output.commit();
    features.commit();
    if (page) page->commit();
    // The pictures come last: a picture that cannot be completed fails alone.
    for (OutputFile* picture : {pictures.overlay.get(), pictures.labelImage.get()}) {
      if (picture == nullptr) continue;
      try {
        picture->commit();
      } catch (const OutputError& error) {
        std::cerr << "blob-analyze: " << error.what() << '\n';
        status = kExitFailure;
      }
    }
    return status;
  } catch (const UsageError& error) {
    return refuseUsage(error.what());
  } catch (const InputError& error) {
    return refuseUsage(error.what());
  } catch (const std::exception& error) {
    std::cerr << "blob-analyze: " << error.what() << '\n';
    return kExitFailure;
  }
}
