// The command line of blob-analyze: one table of its options, from which the parser and the help
// are derived; parsing refuses every malformed value.
#include "options.h"

#include <report/choices.h>
#include <report/pictures.h>
#include <report/version.h>

#include <blob/blob.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string_view>

namespace tool {
namespace {

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

// choiceNames(choices, last): the names joined by ", ", the last one by last.
std::string choiceNames(std::span<const report::Choice> choices, const std::string& last) {
  std::string text;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == choices.size() ? last : ", ") + std::string(choices[i].name);
  }
  return text;
}

// The number of value among choices, or UsageError "OPTION needs A, B or C, not 'value'".
int parseChoice(std::span<const report::Choice> choices, const std::string& value, const std::string& option) {
  const std::optional<int> number = report::findChoice(choices, value);
  if (!number) throw UsageError(option + " needs " + choiceNames(choices, " or ") + ", not '" + value + "'");
  return *number;
}

// "erode0..2, dilate0..2, ...": the morphology names, each run of one operation folded.
std::string morphNames() {
  std::string text;
  const auto choices = report::morphChoices();
  for (std::size_t i = 0; i < choices.size();) {
    const std::string_view stem = choices[i].name.substr(0, choices[i].name.size() - 1);
    std::size_t last = i;
    while (last + 1 < choices.size() && choices[last + 1].name.starts_with(stem)) ++last;
    text += (i == 0 ? "" : ", ") + std::string(choices[i].name) + ".." + choices[last].name.back();
    i = last + 1;
  }
  return text;
}

std::vector<int> parseMorph(const std::string& text) {
  std::vector<int> ops;
  for (const std::string& name : splitCommas(text)) {
    const std::optional<int> op = report::findChoice(report::morphChoices(), name);
    if (!op) throw UsageError("--morph: unknown operation '" + name + "'; valid: " + morphNames());
    ops.push_back(*op);
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

// Parser: the options so far, and which option chose the segmentation, cleanup and exclusion.
struct Parser {
  Options options;
  std::set<std::string_view> given;  // the options given so far, by name
  std::string segmentationOption;
  std::string cleanupOption;
  std::string exclusionOption;

  void setSegmentation(Segmentation kind, const std::string& name) {
    if (!segmentationOption.empty()) {
      throw UsageError(segmentationOption + " and " + name + " cannot be combined; choose one segmentation");
    }
    segmentationOption = name;
    options.segmentation = kind;
  }
  void finish();
};

// How an option is written: a flag, with a value, with a value and repeatable, or an option that
// is answered alone wherever it appears (--help, --version).
enum class Kind { eFlag, eValue, eRepeatable, eAnswer };

// Row: one option of the command line. The help lists the rows in order: a heading (after a blank
// line) where one is given, then each row's spellings with the value, and its help from column
// kHelpColumn, each line of help on a line of its own. A row without help joins the entry above
// ("--a A | --b B"). A short spelling takes its value attached too ("-j4").
struct Row {
  std::string_view heading;
  std::string_view name;
  std::string_view shortName;  // another spelling, or ""
  bool shortListed;            // the help lists the short spelling before the name
  Kind kind;
  std::string_view value;      // the value's placeholder in the help; "" for flags and answers
  void (*apply)(Parser& parser, const std::string& name, const std::string& value);
  std::string_view help;
};

// The value of an option that names a file, which may not be empty.
const std::string& fileName(const std::string& name, const std::string& value) {
  if (value.empty()) throw UsageError(name + " needs a file name");
  return value;
}

// --prune N / --fill N: the cleanup of the option's name.
void setCleanup(Parser& p, const std::string& name, const std::string& value) {
  if (!p.cleanupOption.empty()) throw UsageError(p.cleanupOption + " and " + name + " cannot be combined");
  p.cleanupOption = name;
  p.options.cleanup = static_cast<kcBlobSceneDescription::ConnectCleanup>(
      *report::findChoice(report::cleanupChoices(), std::string_view(name).substr(2)));
  p.options.minPels = parseAny(value, name);
}

// --exclude-area A / --exclude-pels E / --exclude-percent P.
void setExclusion(Parser& p, const std::string& name, const std::string& value) {
  if (!p.exclusionOption.empty()) throw UsageError(p.exclusionOption + " and " + name + " cannot be combined");
  p.exclusionOption = name;
  p.options.exclusion = name == "--exclude-area"   ? Options::Exclusion::eArea
                        : name == "--exclude-pels" ? Options::Exclusion::ePels
                                                   : Options::Exclusion::ePercent;
  p.options.excludeAmount = parseReal(value, name);
}

using Name = const std::string&;

// Every option, in the order of the help.
const Row kRows[] = {
    {"Batches:", "--recursive", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.recursive = true; },
     "also take the images in the subfolders of each FOLDER"},
    {"", "--jobs", "-j", true, Kind::eValue, "N",
     [](Parser& p, Name name, Name value) { p.options.jobs = static_cast<int>(parseNumber(value, name, 1, 256)); },
     "analyse N images at once (1..256; default: one per core); the\n"
     "results keep the order of the input. With several images and\n"
     "standard error a terminal, a progress line shows images done,\n"
     "images per second and the time left"},
    {"", "--threads", "", false, Kind::eValue, "N",
     [](Parser& p, Name name, Name value) { p.options.threads = static_cast<int>(parseNumber(value, name, 1, 256)); },
     "analyse each image on N threads (1..256; default: the cores the\n"
     "jobs leave, so one per core for a single image); jobs times\n"
     "threads never passes the core count. The results do not depend\n"
     "on it. With --report each image uses one thread"},

    {"Segmentation (choose one; the default is --threshold 128):", "--threshold", "", false, Kind::eValue, "T",
     [](Parser& p, Name name, Name value) {
       p.setSegmentation(Segmentation::eHard, name);
       p.options.threshold = parseNumber(value, name, 0, 255);
     },
     "a pel at or above T (0..255) is foreground"},
    {"", "--threshold-percent", "", false, Kind::eValue, "LOWTAIL,HIGHTAIL,PCT",
     [](Parser& p, Name name, Name value) {
       p.setSegmentation(Segmentation::eHardPercent, name);
       const auto parts = splitExactly(value, name, 3, "LOWTAIL,HIGHTAIL,PCT");
       p.options.lowTailPercent = parseAny(parts[0], name);
       p.options.hiTailPercent = parseAny(parts[1], name);
       p.options.thresholdPercent = parseAny(parts[2], name);
     },
     "threshold at PCT percent of the grey range left after cutting\n"
     "LOWTAIL and HIGHTAIL percent of the pels off its ends"},
    {"", "--soft", "", false, Kind::eValue, "LOW,HIGH,SOFTNESS",
     [](Parser& p, Name name, Name value) {
       p.setSegmentation(Segmentation::eSoft, name);
       const auto parts = splitExactly(value, name, 3, "LOW,HIGH,SOFTNESS");
       p.options.threshold = parseNumber(parts[0], name, 0, 255);
       p.options.highThreshold = parseNumber(parts[1], name, 0, 255);
       p.options.softness = parseNumber(parts[2], name, 0, 255);
     },
     "soft threshold: a ramp of SOFTNESS + 1 steps from LOW to HIGH"},
    {"", "--none", "", false, Kind::eFlag, "",
     [](Parser& p, Name name, Name) { p.setSegmentation(Segmentation::eNone, name); },
     "use the pel values as they are: 0 is background, and in\n"
     "greyScale connectivity each pel weighs its value in the area"},
    {"", "--invert", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.invert = true; },
     "swap foreground and background of the thresholds"},

    {"Analysis:", "--connectivity", "", false, Kind::eValue, "greyScale|labelled|wholeImage",
     [](Parser& p, Name name, Name value) {
       p.options.connectivity =
           static_cast<kcBlobSceneDescription::Analysis>(parseChoice(report::connectivityChoices(), value, name));
     },
     "(default greyScale)"},
    {"", "--prune", "", false, Kind::eValue, "N", setCleanup,
     "drop regions of fewer than N pels that enclose nothing"},
    {"", "--fill", "", false, Kind::eValue, "N", setCleanup,
     "merge regions of fewer than N pels into the region around them"},
    {"", "--morph", "", false, Kind::eValue, "OP[,OP...]",
     [](Parser& p, Name, Name value) { p.options.morph = parseMorph(value); },
     "morphology before the analysis, in order: erode0..2, dilate0..2,\n"
     "close0..2, open0..2 (0: 3x3 square, 1: 3x1 row, 2: 1x3 column)"},
    {"", "--mask", "", false, Kind::eValue, "FILE",
     [](Parser& p, Name name, Name value) { p.options.maskPath = fileName(name, value); },
     "analyse only where the mask image (PNG or PGM) is not zero"},
    {"", "--mask-offset", "", false, Kind::eValue, "X,Y",
     [](Parser& p, Name name, Name value) {
       const auto parts = splitExactly(value, name, 2, "X,Y");
       p.options.maskOffset[0] = parseAny(parts[0], name);
       p.options.maskOffset[1] = parseAny(parts[1], name);
       p.options.hasMaskOffset = true;
     },
     "the image position of the mask's first pel; without it a mask\n"
     "of another size than the image fails that image"},
    {"", "--mask-interior", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.maskInterior = true; },
     "the mask also decides isInterior: a blob is interior only when\n"
     "the mask holds one pel around every pel of it"},
    {"", "--max-pels", "", false, Kind::eValue, "N",
     [](Parser& p, Name name, Name value) {
       const auto most = static_cast<long long>(report::kMaxImagePels);
       p.options.maxPels = static_cast<std::uint64_t>(parseNumber(value, name, 1, most));
     },
     "refuse an image or mask of more than N pels before storing it\n"
     "(default 268435456 = 2^28, at most 2147483648 = 2^31)"},
    {"", "--stream", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.stream = true; },
     "read the one IMAGE (PNG or PGM; a pipe such as /dev/stdin too) row by\n"
     "row and print each top-level blob with everything inside it as\n"
     "soon as no later row can touch it: --format json gives a line per\n"
     "blob tree, csv a row per blob, each line written at once; tree is\n"
     "the tree's number in the order they complete and rows the rows\n"
     "read by then. Any height: the image is never held whole (labelled\n"
     "and wholeImage connectivity keep its rows as runs, and labelled\n"
     "prints every tree at the end: the region around the others ends\n"
     "with the image)"},
    {"", "--max-open-pels", "", false, Kind::eValue, "N",
     [](Parser& p, Name name, Name value) {
       p.options.maxOpenPels = static_cast<std::uint64_t>(parseNumber(value, name, 1, INT64_MAX));
     },
     "with --stream, fail when the rows held for open blobs (width x\n"
     "rows from the first row of the oldest open tree, or every row kept)\n"
     "pass N pels\n"
     "(default 268435456 = 2^28); --max-pels does not apply to a stream"},
    {"", "--grey", "", false, Kind::eValue, "luma|red|green|blue",
     [](Parser& p, Name name, Name value) {
       p.options.grey = static_cast<report::ColourToGrey>(parseChoice(report::greyChoices(), value, name));
     },
     "read colour images (and masks) as grey: luma is (299 R + 587 G\n"
     "+ 114 B) / 1000 rounded, the others one channel; without it\n"
     "colour images fail"},

    {"Measures:", "--angle", "", false, Kind::eValue, "RAD",
     [](Parser& p, Name name, Name value) { p.options.angle = parseFinite(value, name); },
     "the angle of the oriented box, centre and median measures\n"
     "(boundingBox..., centerX/Y, medianX/Y, aspect); default 0; finite"},
    {"", "--exclude-area", "", false, Kind::eValue, "A", setExclusion,
     "leave out of the oriented measures A client area units, E pels, or\n"
     "P percent (0 <= P < 50) of each blob's area at each extreme"},
    {"", "--exclude-pels", "", false, Kind::eValue, "E", setExclusion, ""},
    {"", "--exclude-percent", "", false, Kind::eValue, "P", setExclusion, ""},
    {"", "--xform", "", false, Kind::eValue, "A,B,C,D,TX,TY",
     [](Parser& p, Name name, Name value) {
       const auto parts = splitExactly(value, name, 6, "A,B,C,D,TX,TY");
       for (std::size_t i = 0; i < parts.size(); ++i) p.options.xform[i] = parseFinite(parts[i], name);
       p.options.hasXform = true;
     },
     "client coordinates: x' = A x + B y + TX, y' = C x + D y + TY;\n"
     "every measure is reported in them (finite and invertible)"},

    {"Output:", "--format", "", false, Kind::eValue, "table|json|csv",
     [](Parser& p, Name name, Name value) {
       p.options.format = static_cast<report::Format>(parseChoice(report::formatChoices(), value, name));
     },
     "(default table)"},
    {"", "--measures", "", false, Kind::eValue, "NAME[,NAME...]",
     [](Parser& p, Name, Name value) {
       try {
         p.options.measures = report::selectMeasures(value);
       } catch (const std::invalid_argument& error) {
         throw UsageError(std::string("--measures: ") + error.what());
       }
     },
     "measures to report (default: all 43)"},
    {"", "--shown", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.shown = true; },
     "list the filtered and sorted view (below) instead of every blob\n"
     "and hole in id order"},
    {"", "--filter", "", false, Kind::eRepeatable, "NAME:LOW:HIGH[:exclude]",
     [](Parser& p, Name, Name value) { p.options.filters.push_back(parseFilter(value)); },
     "keep in the view the blobs whose measure NAME lies in [LOW, HIGH]\n"
     "(with :exclude, drop them); repeatable, once per measure; a value\n"
     "that is not a number passes only an excluding filter"},
    {"", "--sort", "", false, Kind::eValue, "NAME[:asc|desc]",
     [](Parser& p, Name name, Name value) {
       const std::vector<std::string> parts = splitColons(value);
       if (parts.size() > 2 || (parts.size() == 2 && parts[1] != "asc" && parts[1] != "desc")) {
         throw UsageError("--sort needs NAME, NAME:asc or NAME:desc, not '" + value + "'");
       }
       p.options.sortMeasure = parseMeasureName(parts[0], name);
       p.options.sortAscending = parts.size() == 2 && parts[1] == "asc";
     },
     "order the view by NAME (default desc); without --sort the view is\n"
     "ordered by area, largest first; equal values keep a fixed order"},
    {"", "--no-sort", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.noSort = true; },
     "keep the view in id order"},
    {"", "--overlay", "", false, Kind::eValue, "FILE.svg|FILE.png",
     [](Parser& p, Name, Name value) {
       const auto endsWith = [&](std::string_view suffix) {
         return value.size() > suffix.size() && value.ends_with(suffix);
       };
       if (!endsWith(".svg") && !endsWith(".png")) {
         throw UsageError("--overlay needs a file name ending in .svg or .png");
       }
       p.options.overlayPath = value;
     },
     "also draw the image with its blobs' graphics (those --shown lists),\n"
     "each labelled with its id: SVG with the image embedded, or PNG\n"
     "enlarged to at least 512 pels (at most 8 times). Pictures are of\n"
     "the first image; one that cannot be written fails alone (status 1)"},
    {"", "--draw", "", false, Kind::eValue, "NAME[,NAME...]",
     [](Parser& p, Name, Name value) {
       try {
         p.options.drawFlags = report::drawFlags(value);
       } catch (const std::invalid_argument& error) {
         throw UsageError(std::string("--draw: ") + error.what());
       }
     },
     "the graphics of --overlay: centerOfMass, principalCross, label,\n"
     "imageBoundingBox, principalBox, boundary (default:\n"
     "centerOfMass,label,imageBoundingBox,boundary)"},
    {"", "--label-image", "", false, Kind::eValue, "FILE",
     [](Parser& p, Name name, Name value) { p.options.labelImagePath = fileName(name, value); },
     "also write the label image as an 8-bit PNG: each blob's pels with\n"
     "its pel values (labelled: its label), holes and background 0"},
    {"", "--report", "", false, Kind::eFlag, "",
     [](Parser& p, Name, Name) { p.options.report = true; },
     "after each image's table, print the analysis's two diagnostics\n"
     "reports: its segmentation, then its scene and each blob's centre of\n"
     "mass, area, perimeter, inertia, elongation and angle (table format only)"},
    {"", "--output", "", false, Kind::eValue, "FILE",
     [](Parser& p, Name name, Name value) { p.options.outputPath = fileName(name, value); },
     "write to FILE instead of standard output; a regular FILE is replaced\n"
     "only by a whole report, and never when it is an input image, the\n"
     "mask or another output"},
    {"", "--features", "", false, Kind::eValue, "FILE",
     [](Parser& p, Name name, Name value) { p.options.featuresPath = fileName(name, value); },
     "also write the boundary of each blob and hole listed as a featurelet\n"
     "chain (points, directions, sense) to FILE as JSON; replaced like\n"
     "--output"},
    {"", "--html", "", false, Kind::eValue, "FILE.html",
     [](Parser& p, Name, Name value) {
       if (!(value.size() > 5 && value.ends_with(".html")) && !(value.size() > 4 && value.ends_with(".htm"))) {
         throw UsageError("--html needs a file name ending in .html or .htm");
       }
       p.options.htmlPath = value;
     },
     "also write one web page of every image, complete in itself (nothing\n"
     "is fetched): the image with its blobs' outlines and a table of the\n"
     "blobs listed with the --measures, which sorts by any column and\n"
     "filters by a range; pointing at a row highlights its outline and\n"
     "back; a histogram of a chosen measure. Per image at most 20000\n"
     "blobs are listed and outlined (the first in the report's order; the\n"
     "page says how many were left out), 500 rows to a table page, and an\n"
     "image longer than 2048 pels is shown reduced. Replaced like --output"},
    {"", "--help", "-h", false, Kind::eAnswer, "",
     [](Parser& p, Name, Name) { p.options.help = true; },
     "show this text"},
    {"", "--version", "", false, Kind::eAnswer, "",
     [](Parser& p, Name, Name) { p.options.version = true; },
     "show the program's version"},
};

void Parser::finish() {
  if (options.maskInterior && options.maskPath.empty()) throw UsageError("--mask-interior needs --mask");
  if (options.hasMaskOffset && options.maskPath.empty()) throw UsageError("--mask-offset needs --mask");
  if (given.count("--draw") != 0 && options.overlayPath.empty()) throw UsageError("--draw chooses what --overlay draws; add --overlay");
  if ((!options.overlayPath.empty() || !options.labelImagePath.empty()) && options.images.size() > 1) {
    throw UsageError("--overlay and --label-image picture one image; give at most one");
  }
  if (options.recursive && options.images.empty()) throw UsageError("--recursive needs a folder");
  if (given.count("--max-open-pels") != 0 && !options.stream) throw UsageError("--max-open-pels limits --stream; add --stream");
  if (options.stream) {
    if (options.images.size() != 1 || options.recursive) throw UsageError("--stream reads one image; give exactly one");
    if (options.format == report::Format::eTable) {
      throw UsageError("--stream writes lines as blobs complete; add --format json or --format csv");
    }
    for (const char* option : {"--shown", "--overlay", "--label-image", "--features", "--html", "--report", "--jobs",
                               "--threads", "--max-pels"}) {
      if (given.count(option) != 0) throw UsageError(std::string("--stream cannot be combined with ") + option);
    }
  }
  if (options.noSort && options.sortMeasure >= 0) throw UsageError("--sort and --no-sort cannot be combined");
  if (!options.shown && (!options.filters.empty() || options.sortMeasure >= 0 || options.noSort)) {
    throw UsageError("--filter, --sort and --no-sort choose the view that --shown lists; add --shown");
  }
  if (options.report && options.format != report::Format::eTable) {
    throw UsageError("--report prints text reports after each table; it needs --format table");
  }
  if (options.invert && options.segmentation == Segmentation::eNone) {
    throw UsageError("--invert applies to --threshold, --threshold-percent and --soft, not to --none");
  }
  const bool whole = options.connectivity == kcBlobSceneDescription::eWholeImageGreyScale;
  if (options.cleanup != kcBlobSceneDescription::eNone && whole) {
    throw UsageError(cleanupOption + " cannot be used with --connectivity wholeImage");
  }
  if (!options.featuresPath.empty() && whole) {
    throw UsageError("--features needs boundaries, which --connectivity wholeImage does not trace");
  }
}

const Row* findRow(std::string_view name) {
  for (const Row& row : kRows) {
    if (row.name == name || (!row.shortName.empty() && row.shortName == name)) return &row;
  }
  return nullptr;
}

// The valued option whose short spelling arg starts with, its value attached ("-j4"); null if none.
const Row* attachedShort(const std::string& arg) {
  for (const Row& row : kRows) {
    const std::string_view spelling = row.shortName;
    if (spelling.empty() || row.kind == Kind::eFlag || row.kind == Kind::eAnswer) continue;
    if (arg.size() > spelling.size() && arg.starts_with(spelling) && arg[spelling.size()] != '=') return &row;
  }
  return nullptr;
}

// One option argument at args[i] (moving i past its value when that is the next argument).
void parseOption(Parser& parser, const std::vector<std::string>& args, std::size_t& i) {
  const std::string& arg = args[i];
  std::string name, value;
  const Row* row = attachedShort(arg);
  if (row != nullptr) {
    name = std::string(row->shortName);
    value = arg.substr(name.size());
  } else {
    const std::size_t equals = arg.find('=');
    name = arg.substr(0, equals);
    row = findRow(name);
    if (row == nullptr || row->kind == Kind::eAnswer) throw UsageError("unknown option '" + arg + "'");
    if (row->kind == Kind::eFlag) {
      if (equals != std::string::npos) throw UsageError(name + " takes no value");
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    }
  }
  if (!parser.given.insert(row->name).second && row->kind != Kind::eRepeatable) {
    throw UsageError(name + " is given twice");
  }
  row->apply(parser, name, value);
}

// The synopsis of row in the help: its spellings with the value.
std::string synopsis(const Row& row) {
  const auto spelled = [&](std::string_view name) {
    return std::string(name) + (row.value.empty() ? "" : " ") + std::string(row.value);
  };
  return (row.shortListed ? spelled(row.shortName) + ", " : "") + spelled(row.name);
}

constexpr std::size_t kHelpColumn = 28;  // where each option's help starts
constexpr std::size_t kHelpWidth = 80;   // a longer synopsis takes its help on the same line within this

const char* const kHelpIntro = R"(Usage: blob-analyze [OPTION]... [IMAGE|FOLDER]...
Finds the blobs and holes of each 8-bit grey IMAGE (PNG, binary PGM, TIFF, JPEG or BMP) and prints
their measures; each page of a multi-page TIFF is an image of its own, named FILE#PAGE. A FOLDER
stands for its .png, .pgm, .tif, .tiff, .jpg, .jpeg and .bmp files, sorted by name. Without IMAGE,
analyses a built-in demo image.
)";

const char* const kHelpNotes = R"(
Every blob and hole is reported with id, parent (0 at the top level), label and numChildren (of
the whole tree, also with --shown). NAME is a name of --measures, label or numChildren.
Exit status: 0 all images analysed, 1 some image failed or the output could not be written,
2 invalid command line (including an output that would write an input image, the mask, another
output or the file standard output is, whether the file exists yet or not).
)";

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Parser parser;
  const auto endOfOptions = std::find(args.begin(), args.end(), "--");
  for (auto arg = args.begin(); arg != endOfOptions; ++arg) {
    const Row* row = findRow(*arg);
    if (row != nullptr && row->kind == Kind::eAnswer) row->apply(parser, *arg, "");
  }
  if (parser.options.help || parser.options.version) return parser.options;
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
    parseOption(parser, args, i);
  }
  parser.finish();
  return parser.options;
}

std::string helpText() {
  std::string text = kHelpIntro;
  const std::span<const Row> rows = kRows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    if (!row.heading.empty()) text += "\n" + std::string(row.heading) + "\n";
    std::string entry = "  " + synopsis(row);
    while (i + 1 < rows.size() && rows[i + 1].help.empty()) entry += " | " + synopsis(rows[++i]);
    std::string_view help = row.help;
    const std::string_view first = help.substr(0, help.find('\n'));
    if (entry.size() < kHelpColumn) {
      entry.append(kHelpColumn - entry.size(), ' ');
    } else if (entry.size() + 3 + first.size() <= kHelpWidth) {
      entry += "   ";
    } else {
      entry += "\n" + std::string(kHelpColumn, ' ');
    }
    for (std::size_t end; (end = help.find('\n')) != std::string_view::npos; help.remove_prefix(end + 1)) {
      entry += std::string(help.substr(0, end)) + "\n" + std::string(kHelpColumn, ' ');
    }
    text += entry + std::string(help) + "\n";
  }
  return text + kHelpNotes;
}

std::string versionText() { return "blob-analyze " + std::string(report::version()) + "\n"; }

std::vector<std::string_view> optionNames() {
  std::vector<std::string_view> names;
  for (const Row& row : kRows) {
    if (row.shortListed) names.push_back(row.shortName);
    names.push_back(row.name);
  }
  return names;
}

}  // namespace tool
