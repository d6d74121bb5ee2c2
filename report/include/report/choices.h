// Named choices of an analysis and its report, each name with the number it stands for: the
// command line parses them and the Python package takes its names and numbers from them.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace report {

// Choice: a name and the number it stands for.
struct Choice {
  std::string_view name;
  int number;
};

// Each list below holds its names in the order messages and the help show them; the entries live
// for the whole program.
// connectivityChoices(): greyScale, labelled, wholeImage: kcBlobSceneDescription::Analysis numbers.
std::span<const Choice> connectivityChoices();
// cleanupChoices(): none, prune, fill: kcBlobSceneDescription::ConnectCleanup numbers.
std::span<const Choice> cleanupChoices();
// morphChoices(): erode0..2, dilate0..2, close0..2, open0..2: keBlobParamsMorphOp numbers (the digit
// is the shape: 0 a 3x3 square, 1 a 3x1 row, 2 a 1x3 column).
std::span<const Choice> morphChoices();
// formatChoices(): table, json, csv: Format numbers (output_format.h).
std::span<const Choice> formatChoices();

// greyChoices(): luma, red, green, blue: ColourToGrey numbers (image_io.h).
std::span<const Choice> greyChoices();

// findChoice(choices, name): the number name stands for; nullopt when choices has no such name.
std::optional<int> findChoice(std::span<const Choice> choices, std::string_view name);

}  // namespace report
