// The command line of blob-analyze: its options, their parsing and the --help text.
#pragma once

#include <report/image_io.h>
#include <report/measures.h>
#include <report/output_format.h>

#include <blob/blobdesc.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

// How pels become foreground: --threshold (the default, at 128), --threshold-percent, --soft or --none.
enum class Segmentation { eHard, eHardPercent, eSoft, eNone };

// FilterOption: one --filter NAME:LOW:HIGH[:exclude]; measure is the library's measure number.
struct FilterOption {
  int measure = 0;
  double low = 0.0;
  double high = 0.0;
  bool exclude = false;
};

// Options: everything the command line says. Numbers are kept as given (within 32 bits); ranges
// that the library's parameters check are left to them, so the user sees the library's message.
struct Options {
  Segmentation segmentation = Segmentation::eHard;
  long threshold = 128;     // --threshold T; the low threshold of --soft
  long highThreshold = 0;   // --soft
  long softness = 0;        // --soft
  long lowTailPercent = 0;  // --threshold-percent
  long hiTailPercent = 0;   // --threshold-percent
  long thresholdPercent = 0;  // --threshold-percent
  bool invert = false;
  kcBlobSceneDescription::Analysis connectivity = kcBlobSceneDescription::eGreyScale;  // --connectivity
  kcBlobSceneDescription::ConnectCleanup cleanup = kcBlobSceneDescription::eNone;    // --prune / --fill
  long minPels = 0;               // --prune N / --fill N
  std::vector<int> morph;         // morphology operation numbers 0..11, in the order given
  std::string maskPath;           // empty: no mask
  bool maskInterior = false;      // --mask-interior: the mask also decides isInterior
  bool hasMaskOffset = false;     // --mask-offset X,Y: where the mask's first pel lies in the image
  long maskOffset[2] = {0, 0};
  double angle = 0.0;             // --angle: the scene's extrema angle, radians
  enum class Exclusion { eNone, eArea, ePels, ePercent } exclusion = Exclusion::eNone;  // --exclude-*
  double excludeAmount = 0.0;
  bool hasXform = false;          // --xform A,B,C,D,TX,TY: clientFromImage
  double xform[6] = {1, 0, 0, 1, 0, 0};
  report::ColourToGrey grey = report::ColourToGrey::eRefuse;  // --grey: how colour images become grey
  std::uint64_t maxPels = report::kDefaultMaxPels;  // --max-pels: the largest image or mask read
  report::Format format = report::Format::eTable;
  std::vector<report::MeasureInfo> measures = report::reportedMeasures();
  bool shown = false;                // --shown: list the filtered and sorted view
  std::vector<FilterOption> filters;  // --filter, in the order given
  int sortMeasure = -1;              // --sort NAME; -1: the scene's default order (area, largest first)
  bool sortAscending = false;        // --sort NAME:asc
  bool noSort = false;               // --no-sort: the view in id order
  bool report = false;               // --report: the analysis's diagnostics reports after each table
  std::string outputPath;         // empty: standard output
  std::string overlayPath;        // --overlay FILE.svg|FILE.png; empty: none
  unsigned long drawFlags = 1 | 4 | 8 | 32;  // --draw: the blob graphics of the overlay
  std::string labelImagePath;     // --label-image FILE.png; empty: none
  std::string featuresPath;       // --features FILE; empty: none
  std::string htmlPath;           // --html FILE.html|FILE.htm; empty: none
  std::vector<std::string> images;  // image files and folders as given; empty: the built-in demo image
  bool recursive = false;         // --recursive: folders are searched in their subfolders too
  int jobs = 0;                   // -j N / --jobs N: images analysed at once; 0: one per core
  int threads = 0;                // --threads N: threads per image; 0: the cores the jobs leave
  bool stream = false;             // --stream: one image read and reported row by row
  std::uint64_t maxOpenPels = report::kDefaultMaxPels;  // --max-open-pels: the rows a stream may hold
  bool help = false;
  bool version = false;
};

// UsageError: the command line is wrong. what() is the message for the user, without the
// program name; its wording is not promised.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// parseOptions(args): the options in args (the arguments after the program name). Options may
// come before, between or after the image files, as "--name value" or "--name=value"; "--" ends
// the options. When --help (or -h) appears anywhere before "--", help is true and nothing else is
// checked; otherwise the same holds for --version and version.
// Throws UsageError for an unknown option, a missing or malformed value, a value outside its
// range (--threshold and --soft values outside 0..255, --max-pels outside 1..kMaxImagePels, other
// numbers outside 32 bits), an option
// given twice in any spelling (but --filter, which is repeatable), two segmentation options, --invert with --none,
// --prune with --fill, a cleanup or --features with --connectivity wholeImage, unknown, repeated or empty names in
// --morph and --measures, -j outside 1..256, a malformed --filter or --sort, --sort with --no-sort, and --filter,
// --sort or --no-sort without --shown (they choose only what --shown lists), an --overlay not
// ending in .svg or .png, --draw without --overlay or with unknown or repeated names, and
// --overlay or --label-image with more than one image, an --html not ending in .html or .htm, two --exclude-* options, --mask-interior
// without --mask, --mask-offset without --mask or with other than two whole numbers, and a malformed
// or non-finite --angle or --xform. The library judges the values themselves
// (an exclusion out of range, a transform that cannot be inverted), as are filters on the same
// measure twice and a low limit above the high one. --report is refused with a format other than
// table. --stream is refused with other than one image, the table format, --shown and what it
// chooses, the pictures, --features, --html, --report, -j and --threads, and --max-pels;
// --max-open-pels without --stream.
Options parseOptions(const std::vector<std::string>& args);

// helpText(): the --help text, listing every option and the exit statuses.
std::string helpText();

// versionText(): the --version text, "blob-analyze VERSION" and a line break.
std::string versionText();

// optionNames(): every option the help lists, spelled as there ("-j" and "--jobs" both), in its
// order. The names live for the whole program.
std::vector<std::string_view> optionNames();

}  // namespace tool
