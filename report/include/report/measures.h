// The measures a report lists: their output names, their numbers and the --measures list.
#pragma once

#include <string>
#include <vector>

namespace report {

// MeasureInfo: one reportable measure. name is the output name (the measure enumerator without
// its leading 'e', first letter lower case); number is its value of the blob measure enumeration.
struct MeasureInfo {
  const char* name;
  int number;
};

// reportedMeasures(): every measure of the library (kfBlobMeasureName) but label and numChildren,
// which are fixed fields, in enumeration order. This is the default selection. The entries live
// for the whole program.
const std::vector<MeasureInfo>& reportedMeasures();

// selectMeasures(list): the measures named in the comma-separated list, in the order given.
// Throws std::invalid_argument with a message naming the offender and listing the valid names
// when a name is empty, unknown or repeated. label and numChildren are always reported as fixed
// fields; naming them is accepted and adds nothing.
std::vector<MeasureInfo> selectMeasures(const std::string& list);

}  // namespace report
