// blob-analyze: finds and measures the blobs of grey images from the command line.
#include "analysis_adapter.h"
#include "demo_image.h"
#include "features_file.h"
#include "image_io.h"
#include "options.h"
#include "output_file.h"
#include "output_format.h"

#include <unistd.h>

#include <iostream>
#include <new>

namespace {

using namespace tool;

constexpr int kExitFailure = 1;  // some image failed, or the output could not be written
constexpr int kExitUsage = 2;
// A progress line is shown from this many images on, when standard error is a terminal.
constexpr std::size_t kProgressFromImages = 10;
constexpr std::size_t kProgressWidth = 72;

// The progress line on standard error: "[k/n] file", redrawn in place.
class Progress {
 public:
  Progress(std::size_t total, bool active) : total_(total), active_(active) {}
  ~Progress() { clear(); }

  void show(std::size_t index, const std::string& file) {
    if (!active_) return;
    std::string line = "[" + std::to_string(index + 1) + "/" + std::to_string(total_) + "] " + file;
    if (line.size() > kProgressWidth) line = line.substr(0, kProgressWidth - 3) + "...";
    std::cerr << "\r\033[K" << line << std::flush;
    shown_ = true;
  }
  void clear() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  std::size_t total_;
  bool active_;
  bool shown_ = false;
};

int refuseUsage(const std::string& message) {
  std::cerr << "blob-analyze: " << message << "\nTry 'blob-analyze --help'.\n";
  return kExitUsage;
}

// Refuses an --output naming an input image or the mask, before anything is read or written.
void refuseOutputOverInput(const Options& options) {
  if (options.outputPath.empty()) return;
  std::vector<std::string> inputs = options.images;
  if (!options.maskPath.empty()) inputs.push_back(options.maskPath);
  for (const std::string& input : inputs) {
    if (sameFile(options.outputPath, input)) {
      throw UsageError("--output " + options.outputPath + " would overwrite the input " + input);
    }
  }
}

// Reads and analyses one image (the demo image when demo is true); failures land in report.error.
void analyseOne(Analyzer& analyzer, std::uint64_t maxPels, ImageReport& report,
                std::vector<FeatureChain>* features) {
  try {
    analyzer.analyse(report.demo ? makeDemoImage() : readImage(report.file, maxPels), report, features);
  } catch (const ImageError& error) {
    report.error = error.what();
  } catch (const AnalysisError& error) {
    report.error = error.what();
  } catch (const std::bad_alloc&) {
    report.error = "out of memory";
  } catch (const std::exception& error) {
    report.error = error.what();
  }
  if (!report.error.empty()) report.blobs.clear();
}

// Analyses every image and writes the report; stops early once the output fails (commit() tells).
int run(const Options& options, Analyzer& analyzer, OutputFile& output, FeaturesFile& features) {
  std::vector<std::string> names;
  for (const MeasureInfo& info : options.measures) names.emplace_back(info.name);
  const auto writer = makeReportWriter(options.format, output.stream(), names);

  const bool demo = options.images.empty();
  const std::size_t total = demo ? 1 : options.images.size();
  Progress progress(total, total >= kProgressFromImages && isatty(STDERR_FILENO) != 0);
  // Output to the same terminal would be overwritten by the progress line: clear it first.
  const bool outputOnTerminal = options.outputPath.empty() && isatty(STDOUT_FILENO) != 0;
  bool anyFailed = false;
  for (std::size_t i = 0; i < total; ++i) {
    ImageReport report;
    report.demo = demo;
    if (!demo) report.file = options.images[i];
    progress.show(i, report.file);
    analyseOne(analyzer, options.maxPels, report, features.chains());
    if (!report.error.empty() || outputOnTerminal) progress.clear();
    if (!report.error.empty()) {
      anyFailed = true;
      std::cerr << "blob-analyze: " << (demo ? "demo image" : report.file) << ": " << report.error << '\n';
    }
    writer->image(report);
    features.image(report);
    if (!output.flush()) break;
  }
  writer->finish();
  return anyFailed ? kExitFailure : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::cout << helpText();
      return std::cout.flush() ? 0 : kExitFailure;
    }
    refuseOutputOverInput(options);
    refuseFeaturesOverInput(options);
    Analyzer analyzer(options);
    OutputFile output(options.outputPath);
    FeaturesFile features(options.featuresPath);
    const int status = run(options, analyzer, output, features);
    output.commit();
    features.commit();
    return status;
  } catch (const UsageError& error) {
    return refuseUsage(error.what());
  } catch (const std::exception& error) {
    std::cerr << "blob-analyze: " << error.what() << '\n';
    return kExitFailure;
  }
}
