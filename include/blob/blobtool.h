// The analysis tool's public types: the morphology operations and the analysis parameters.
#pragma once

#include <blob/blobdefs.h>
#include <blob/blobdesc.h>

#include <cstdint>

class kcArchive;

// keBlobParamsMorphOp: one grey-scale morphology step run before connectivity. Shape 0 is the
// 3x3 square, 1 the horizontal 3x1 and 2 the vertical 1x3 element. Close is dilate then erode,
// open is erode then dilate. Any 32-bit value can be stored; values outside 0 to 11 are refused
// by the analysis when it reaches them.
enum keBlobParamsMorphOp : std::int32_t {
  eMorphErode0 = 0,
  eMorphErode1 = 1,
  eMorphErode2 = 2,
  eMorphDilate0 = 3,
  eMorphDilate1 = 4,
  eMorphDilate2 = 5,
  eMorphClose0 = 6,
  eMorphClose1 = 7,
  eMorphClose2 = 8,
  eMorphOpen0 = 9,
  eMorphOpen1 = 10,
  eMorphOpen2 = 11,
};

// Archive form: the value as an int, taken unchecked on loading.
kcArchive& operator||(kcArchive& ar, keBlobParamsMorphOp& value);
