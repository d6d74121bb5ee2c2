// Parsing the command line of blob-analyze into Options, refusing every malformed value.
#include "options.h"

#include "pictures.h"

#include <blob/blob.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <set>
#include <string_view>

namespace tool {
namespace {

constexpr std::array<std::string_view, 12> kMorphNames = {"erode0",  "erode1",  "erode2",  "dilate0",
                                                          "dilate1", "dilate2", "close0",  "close1",
                                                          "close2",  "open0",   "open1",   "open2"};

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

// A decimal whole number (optional sign) that lies in [low, high].
long long parseNumber(const std::string& text, const std::string& option, long long low, long long high) {
  std::int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  const bool whole = !text.empty() && error == std::errc() && end == last;
  if (!whole || value < low || value > high) {
    throw UsageError(option + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                     ", not '" + text + "'");
  }
  return value;
}

long parseAny(const std::string& text, const std::string& option) {
  return parseNumber(text, option, INT32_MIN, INT32_MAX);
}

// Exactly `count` comma-separated numbers.
std::vector<std::string> splitExactly(const std::string& text, const std::string& option, std::size_t count,
                                      const char* form) {
  std::vector<std::string> parts = splitCommas(text);
  if (parts.size() != count) throw UsageError(option + " needs " + form + ", not '" + text + "'");
  return parts;
}

std::vector<int> parseMorph(const std::string& text) {
  std::vector<int> ops;
  for (const std::string& name : splitCommas(text)) {
    const auto found = std::find(kMorphNames.begin(), kMorphNames.end(), name);
    if (found == kMorphNames.end()) {
      throw UsageError("--morph: unknown operation '" + name +
                       "'; valid: erode0..2, dilate0..2, close0..2, open0..2");
    }
    ops.push_back(static_cast<int>(found - kMorphNames.begin()));
  }
  return ops;
}

// A measure by its library name (label and numChildren included).
int parseMeasureName(const std::string& name, const std::string& option) {
  kcBlob::Measure m{};
  if (!kfBlobMeasureFromName(name.c_str(), m)) {
    throw UsageError(option + ": unknown measure '" + name + "'; the names are those of --measures, label and numChildren");
  }
  return static_cast<int>(m);
}

// A decimal number as strtod reads it ("inf" and "-inf" included), the whole text.
double parseReal(const std::string& text, const std::string& option) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (text.empty() || error != std::errc() || end != last) {
    throw UsageError(option + " needs a number, not '" + text + "'");
  }
  return value;
}

// A finite number, for the options whose values the library would take as they are.
double parseFinite(const std::string& text, const std::string& option) {
  const double value = parseReal(text, option);
  if (!std::isfinite(value)) throw UsageError(option + ": '" + text + "' is not finite");
  return value;
}

std::vector<std::string> splitColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

FilterOption parseFilter(const std::string& text) {
  const std::vector<std::string> parts = splitColons(text);
  if (parts.size() < 3 || parts.size() > 4 || (parts.size() == 4 && parts[3] != "exclude")) {
    throw UsageError("--filter needs NAME:LOW:HIGH or NAME:LOW:HIGH:exclude, not '" + text + "'");
  }
  return {parseMeasureName(parts[0], "--filter"), parseReal(parts[1], "--filter"), parseReal(parts[2], "--filter"),
          parts.size() == 4};
}

// Accumulates the command line; apply() handles one option with its value.
class Parser {
 public:
  void apply(const std::string& name, const std::string& value);
  void finish();
  Options options;

 private:
  void setSegmentation(Segmentation kind, const std::string& name);
  std::set<std::string> seen_;
  std::string segmentationOption_;
  std::string cleanupOption_;
  std::string exclusionOption_;
};

void Parser::setSegmentation(Segmentation kind, const std::string& name) {
  if (!segmentationOption_.empty()) {
    throw UsageError(segmentationOption_ + " and " + name + " cannot be combined; choose one segmentation");
  }
  segmentationOption_ = name;
  options.segmentation = kind;
}

void Parser::apply(const std::string& name, const std::string& value) {
  if (name != "--filter" && !seen_.insert(name).second) throw UsageError(name + " is given twice");
  if (name == "--threshold") {
    setSegmentation(Segmentation::eHard, name);
    options.threshold = parseNumber(value, name, 0, 255);
  } else if (name == "--threshold-percent") {
    setSegmentation(Segmentation::eHardPercent, name);
    const auto parts = splitExactly(value, name, 3, "LOWTAIL,HIGHTAIL,PCT");
    options.lowTailPercent = parseAny(parts[0], name);
    options.hiTailPercent = parseAny(parts[1], name);
    options.thresholdPercent = parseAny(parts[2], name);
  } else if (name == "--soft") {
    setSegmentation(Segmentation::eSoft, name);
    const auto parts = splitExactly(value, name, 3, "LOW,HIGH,SOFTNESS");
    options.threshold = parseNumber(parts[0], name, 0, 255);
    options.highThreshold = parseNumber(parts[1], name, 0, 255);
    options.softness = parseNumber(parts[2], name, 0, 255);
  } else if (name == "--none") {
    setSegmentation(Segmentation::eNone, name);
  } else if (name == "--invert") {
    options.invert = true;
  } else if (name == "--connectivity") {
    if (value == "greyScale") options.connectivity = Connectivity::eGreyScale;
    else if (value == "labelled") options.connectivity = Connectivity::eLabelled;
    else if (value == "wholeImage") options.connectivity = Connectivity::eWholeImage;
    else throw UsageError("--connectivity needs greyScale, labelled or wholeImage, not '" + value + "'");
  } else if (name == "--prune" || name == "--fill") {
    if (!cleanupOption_.empty()) throw UsageError(cleanupOption_ + " and " + name + " cannot be combined");
    cleanupOption_ = name;
    options.cleanup = name == "--prune" ? Cleanup::ePrune : Cleanup::eFill;
    options.minPels = parseAny(value, name);
  } else if (name == "--morph") {
    options.morph = parseMorph(value);
  } else if (name == "--mask") {
    if (value.empty()) throw UsageError("--mask needs a file name");
    options.maskPath = value;
  } else if (name == "--mask-offset") {
    const auto parts = splitExactly(value, name, 2, "X,Y");
    options.maskOffset[0] = parseAny(parts[0], name);
    options.maskOffset[1] = parseAny(parts[1], name);
    options.hasMaskOffset = true;
  } else if (name == "--max-pels") {
    options.maxPels = static_cast<std::uint64_t>(parseNumber(value, name, 1, static_cast<long long>(kMaxImagePels)));
  } else if (name == "--format") {
    if (value == "table") options.format = Format::eTable;
    else if (value == "json") options.format = Format::eJson;
    else if (value == "csv") options.format = Format::eCsv;
    else throw UsageError("--format needs table, json or csv, not '" + value + "'");
  } else if (name == "--measures") {
    try {
      options.measures = selectMeasures(value);
    } catch (const std::invalid_argument& error) {
      throw UsageError(std::string("--measures: ") + error.what());
    }
  } else if (name == "-j" || name == "--jobs") {
    options.jobs = static_cast<int>(parseNumber(value, name, 1, 256));
  } else if (name == "--threads") {
    options.threads = static_cast<int>(parseNumber(value, name, 1, 256));
  } else if (name == "--recursive") {
    options.recursive = true;
  } else if (name == "--mask-interior") {
    options.maskInterior = true;
  } else if (name == "--angle") {
    options.angle = parseFinite(value, name);
  } else if (name == "--exclude-area" || name == "--exclude-pels" || name == "--exclude-percent") {
    if (!exclusionOption_.empty()) throw UsageError(exclusionOption_ + " and " + name + " cannot be combined");
    exclusionOption_ = name;
    options.exclusion = name == "--exclude-area"   ? Options::Exclusion::eArea
                        : name == "--exclude-pels" ? Options::Exclusion::ePels
                                                   : Options::Exclusion::ePercent;
    options.excludeAmount = parseReal(value, name);
  } else if (name == "--xform") {
    const auto parts = splitExactly(value, name, 6, "A,B,C,D,TX,TY");
    for (std::size_t i = 0; i < parts.size(); ++i) options.xform[i] = parseFinite(parts[i], name);
    options.hasXform = true;
  } else if (name == "--shown") {
    options.shown = true;
  } else if (name == "--filter") {
    options.filters.push_back(parseFilter(value));
  } else if (name == "--sort") {
    const std::vector<std::string> parts = splitColons(value);
    if (parts.size() > 2 || (parts.size() == 2 && parts[1] != "asc" && parts[1] != "desc")) {
      throw UsageError("--sort needs NAME, NAME:asc or NAME:desc, not '" + value + "'");
    }
    options.sortMeasure = parseMeasureName(parts[0], name);
    options.sortAscending = parts.size() == 2 && parts[1] == "asc";
  } else if (name == "--no-sort") {
    options.noSort = true;
  } else if (name == "--overlay") {
    const auto endsWith = [&](const char* suffix) {
      const std::size_t n = std::strlen(suffix);
      return value.size() > n && value.compare(value.size() - n, n, suffix) == 0;
    };
    if (!endsWith(".svg") && !endsWith(".png")) throw UsageError("--overlay needs a file name ending in .svg or .png");
    options.overlayPath = value;
  } else if (name == "--draw") {
    try {
      options.drawFlags = drawFlags(value);
    } catch (const std::invalid_argument& error) {
      throw UsageError(std::string("--draw: ") + error.what());
    }
  } else if (name == "--label-image") {
    if (value.empty()) throw UsageError("--label-image needs a file name");
    options.labelImagePath = value;
  } else if (name == "--report") {
    options.report = true;
  } else if (name == "--output") {
    if (value.empty()) throw UsageError("--output needs a file name");
    options.outputPath = value;
  } else if (name == "--features") {
    if (value.empty()) throw UsageError("--features needs a file name");
    options.featuresPath = value;
  }
}

void Parser::finish() {
  if (options.maskInterior && options.maskPath.empty()) throw UsageError("--mask-interior needs --mask");
  if (options.hasMaskOffset && options.maskPath.empty()) throw UsageError("--mask-offset needs --mask");
  if (seen_.count("--draw") != 0 && options.overlayPath.empty()) throw UsageError("--draw chooses what --overlay draws; add --overlay");
  if ((!options.overlayPath.empty() || !options.labelImagePath.empty()) && options.images.size() > 1) {
    throw UsageError("--overlay and --label-image picture one image; give at most one");
  }
  if (options.recursive && options.images.empty()) throw UsageError("--recursive needs a folder");
  if (options.noSort && options.sortMeasure >= 0) throw UsageError("--sort and --no-sort cannot be combined");
  if (!options.shown && (!options.filters.empty() || options.sortMeasure >= 0 || options.noSort)) {
    throw UsageError("--filter, --sort and --no-sort choose the view that --shown lists; add --shown");
  }
  if (options.report && options.format != Format::eTable) {
    throw UsageError("--report prints text reports after each table; it needs --format table");
  }
  if (options.invert && options.segmentation == Segmentation::eNone) {
    throw UsageError("--invert applies to --threshold, --threshold-percent and --soft, not to --none");
  }
  if (options.cleanup != Cleanup::eNone && options.connectivity == Connectivity::eWholeImage) {
    throw UsageError(cleanupOption_ + " cannot be used with --connectivity wholeImage");
  }
  if (!options.featuresPath.empty() && options.connectivity == Connectivity::eWholeImage) {
    throw UsageError("--features needs boundaries, which --connectivity wholeImage does not trace");
  }
}

bool takesValue(const std::string& name) {
  static const std::set<std::string> valued = {"--threshold", "--threshold-percent", "--soft", "--connectivity",
                                               "--prune", "--fill", "--morph", "--mask", "--mask-offset", "--max-pels",
                                               "--format", "--measures", "--output", "--filter", "--sort",
                                               "--overlay", "--draw", "--label-image", "--angle",
                                               "--exclude-area", "--exclude-pels", "--exclude-percent", "--xform",
                                               "-j", "--jobs", "--threads", "--features"};
  return valued.count(name) != 0;
}

bool isFlag(const std::string& name) {
  return name == "--invert" || name == "--none" || name == "--shown" || name == "--no-sort" || name == "--mask-interior" ||
         name == "--recursive" || name == "--report";
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Parser parser;
  const auto endOfOptions = std::find(args.begin(), args.end(), "--");
  if (std::any_of(args.begin(), endOfOptions, [](const std::string& a) { return a == "--help" || a == "-h"; })) {
    parser.options.help = true;
    return parser.options;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      parser.options.images.insert(parser.options.images.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (arg == "-" || arg.empty() || arg[0] != '-') {
      parser.options.images.push_back(arg);
      continue;
    }
    if (arg.size() > 2 && arg.compare(0, 2, "-j") == 0 && arg[2] != '=') {  // -jN
      parser.apply("-j", arg.substr(2));
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (isFlag(name)) {
      if (equals != std::string::npos) throw UsageError(name + " takes no value");
      parser.apply(name, "");
    } else if (takesValue(name)) {
      if (equals != std::string::npos) {
        parser.apply(name, arg.substr(equals + 1));
      } else {
        if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
        parser.apply(name, args[++i]);
      }
    } else {
      throw UsageError("unknown option '" + arg + "'");
    }
  }
  parser.finish();
  return parser.options;
}

std::string helpText() {
  return R"(Usage: blob-analyze [OPTION]... [IMAGE|FOLDER]...
Finds the blobs and holes of each 8-bit grey IMAGE (PNG or binary PGM) and prints their measures.
A FOLDER stands for its .png and .pgm files, sorted by name. Without IMAGE, analyses a built-in
demo image.

Batches:
  --recursive               also take the images in the subfolders of each FOLDER
  -j N, --jobs N            analyse N images at once (1..256; default: one per core); the
                            results keep the order of the input. With several images and
                            standard error a terminal, a progress line shows images done,
                            images per second and the time left
  --threads N               analyse each image on N threads (1..256; default: the cores the
                            jobs leave, so one per core for a single image); jobs times
                            threads never passes the core count. The results do not depend
                            on it. With --report each image uses one thread

Segmentation (choose one; the default is --threshold 128):
  --threshold T             a pel at or above T (0..255) is foreground
  --threshold-percent LOWTAIL,HIGHTAIL,PCT
                            threshold at PCT percent of the grey range left after cutting
                            LOWTAIL and HIGHTAIL percent of the pels off its ends
  --soft LOW,HIGH,SOFTNESS  soft threshold: a ramp of SOFTNESS + 1 steps from LOW to HIGH
  --none                    use the pel values as they are: 0 is background, and in
                            greyScale connectivity each pel weighs its value in the area
  --invert                  swap foreground and background of the thresholds

Analysis:
  --connectivity greyScale|labelled|wholeImage   (default greyScale)
  --prune N                 drop regions of fewer than N pels that enclose nothing
  --fill N                  merge regions of fewer than N pels into the region around them
  --morph OP[,OP...]        morphology before the analysis, in order: erode0..2, dilate0..2,
                            close0..2, open0..2 (0: 3x3 square, 1: 3x1 row, 2: 1x3 column)
  --mask FILE               analyse only where the mask image (PNG or PGM) is not zero
  --mask-offset X,Y         the image position of the mask's first pel; without it a mask
                            of another size than the image fails that image
  --mask-interior           the mask also decides isInterior: a blob is interior only when
                            the mask holds one pel around every pel of it
  --max-pels N              refuse an image or mask of more than N pels before storing it
                            (default 268435456 = 2^28, at most 2147483648 = 2^31)

Measures:
  --angle RAD               the angle of the oriented box, centre and median measures
                            (boundingBox..., centerX/Y, medianX/Y, aspect); default 0; finite
  --exclude-area A | --exclude-pels E | --exclude-percent P
                            leave out of the oriented measures A client area units, E pels, or
                            P percent (0 <= P < 50) of each blob's area at each extreme
  --xform A,B,C,D,TX,TY     client coordinates: x' = A x + B y + TX, y' = C x + D y + TY;
                            every measure is reported in them (finite and invertible)

Output:
  --format table|json|csv   (default table)
  --measures NAME[,NAME...] measures to report (default: all 43)
  --shown                   list the filtered and sorted view (below) instead of every blob
                            and hole in id order
  --filter NAME:LOW:HIGH[:exclude]
                            keep in the view the blobs whose measure NAME lies in [LOW, HIGH]
                            (with :exclude, drop them); repeatable, once per measure; a value
                            that is not a number passes only an excluding filter
  --sort NAME[:asc|desc]    order the view by NAME (default desc); without --sort the view is
                            ordered by area, largest first; equal values keep a fixed order
  --no-sort                 keep the view in id order
  --overlay FILE.svg|FILE.png
                            also draw the image with its blobs' graphics (those --shown lists),
                            each labelled with its id: SVG with the image embedded, or PNG
                            enlarged to at least 512 pels (at most 8 times). Pictures are of
                            the first image; one that cannot be written fails alone (status 1)
  --draw NAME[,NAME...]     the graphics of --overlay: centerOfMass, principalCross, label,
                            imageBoundingBox, principalBox, boundary (default:
                            centerOfMass,label,imageBoundingBox,boundary)
  --label-image FILE        also write the label image as an 8-bit PNG: each blob's pels with
                            its pel values (labelled: its label), holes and background 0
  --report                  after each image's table, print the analysis's two diagnostics
                            reports: its segmentation, then its scene and each blob's centre of
                            mass, area, perimeter, inertia, elongation and angle (table format only)
  --output FILE             write to FILE instead of standard output; a regular FILE is replaced
                            only by a whole report, and never when it is an input image, the
                            mask or another output
  --features FILE           also write the boundary of each blob and hole listed as a featurelet
                            chain (points, directions, sense) to FILE as JSON; replaced like
                            --output
  --help                    show this text

Every blob and hole is reported with id, parent (0 at the top level), label and numChildren (of
the whole tree, also with --shown). NAME is a name of --measures, label or numChildren.
Exit status: 0 all images analysed, 1 some image failed or the output could not be written,
2 invalid command line (including an output that would write an input image, the mask, another
output or the file standard output is, whether the file exists yet or not).
)";
}

}  // namespace tool
