// The built-in demo image of blob-analyze and the Python module, generated in code so both run without a file.
#pragma once

#include <report/image_io.h>

namespace report {

// makeDemoImage(): a 256 x 192 grey image, the same on every call: a dark background (values 20 to
// 70, a gentle gradient with noise) under bright parts (values 150 to 245, shaded): a plate with two
// round holes, two touching discs that form one blob, a ring around a disc with a hole of its own
// (four levels of nesting), a tilted ellipse, a part cut by the right image edge and a small speck.
// Every threshold from 71 to 150 separates the parts from the background.
GreyImage makeDemoImage();

}  // namespace report
