// The one place where blob-analyze calls the library: parameters, the analysis, reading the blobs.
#pragma once

#include "options.h"

#include <report/image_io.h>
#include <report/output_file.h>
#include <report/output_format.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class kcBlobParams;
class kcBlobSceneDescription;

namespace tool {

// AnalysisError: the library refused or failed an analysis, or the mask does not fit the image.
// what() is the library's own message in UTF-8 (with the error class and number when the error
// carries no text), or the sizes of the mask and the image.
class AnalysisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// makeParams(options): the library's parameters for options; reads and encodes the mask file.
// Throws UsageError carrying the library's message when it refuses a value, and naming the mask
// file and the reason when it cannot be read.
kcBlobParams makeParams(const Options& options);

// setView(options, scene): the filters, sort, extrema settings and client transform of the options
// on scene. The library's refusals (a second filter on one measure, a low limit above the high one,
// an exclusion out of range, a transform that cannot be inverted) pass through.
void setView(const Options& options, kcBlobSceneDescription& scene);

// Extras: what an image gives beyond its report when the options ask.
struct Extras {
  // --overlay and --label-image: each written whole to a temporary file beside its target (see
  // OutputFile), for the caller to commit; null when not asked for, or when it could not be made,
  // its reason then in pictureErrors ("cannot write FILE: reason").
  std::unique_ptr<report::OutputFile> overlay;
  std::unique_ptr<report::OutputFile> labelImage;
  std::vector<std::string> pictureErrors;
  // --features: the image's scene, owned with the report's rows; null when not asked for or when
  // the image failed. Read it on the thread that reads the rows.
  std::shared_ptr<const kcBlobSceneDescription> scene;
  // --html: the image's picture for the page (report::htmlFigure of the blobs listed); empty when
  // not asked for or when the image failed.
  std::string htmlFigure;
};

// Analyzer: runs one configured analysis on image after image. Images are independent: each gets
// results of its own, so a failed image leaves nothing behind for the next.
class Analyzer {
 public:
  // Analyzer(options): builds the library's parameters from options and reads and encodes the mask
  // file. Throws UsageError carrying the library's own message when the parameters or the scene's
  // filter and sort settings refuse a value,
  // and naming the mask file and the reason when it cannot be read.
  explicit Analyzer(const Options& options);
  ~Analyzer();
  Analyzer(const Analyzer&) = delete;
  Analyzer& operator=(const Analyzer&) = delete;

  // clone(): an analyzer with a deep copy of this one's parameters and options (the mask is not
  // read again), for another thread: one analyzer must not be used by two threads at once.
  std::unique_ptr<Analyzer> clone() const;

  // threads(n): the threads each analysis may use from now on (1 at first; clones keep it). The
  // results do not depend on it; --report's recording analyses on one thread.
  void threads(unsigned n);

  // analyse(image, report, extras, pictures): analyses image and fills report's width, height and
  // blobs (every
  // blob and hole in plain id order, or with --shown the filtered and sorted view in its order;
  // one value per measure of the options), and with --report its diagnostics (the input's and the
  // result's text reports, taken before the view is set). A filter or sort on a measure the
  // analysis cannot give (the boundary measures of a whole-image analysis) fails the image, and so
  // does a mask of another size than the image unless --mask-offset places it. The image's pels
  // are released once the library holds its own copy. Throws AnalysisError when the library fails,
  // leaving report's blobs empty; std::bad_alloc passes through. With extras, also hands out the
  // scene for --features and the picture for --html and, when pictures is true, writes the --overlay and --label-image
  // pictures the options ask for (see pictures.h); a picture that fails fails alone.
  void analyse(report::GreyImage image, report::ImageReport& report, Extras* extras = nullptr, bool pictures = false);

 private:
  Analyzer() = default;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tool
