// Pel filling: setting every pel of an image, and painting a run-length image into it through a map.
#pragma once

#include <foundation/geometry.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <vector>

// kfPelSet(image, value): sets every pel of image's window to value (row padding is not touched).
// Throws kcBadArgument when image is unbound. Cost: width x height.
void kfPelSet(kcPelBuffer<unsigned char>& image, unsigned char value);

// kfPelCombine_U8(image, region, offset, map, skip): paints region into image. region lies at its
// own image position shifted by offset (image position region.offset() + offset + (x, y) for its
// pel (x, y)); for every pel of it with value v that falls inside image's window, the image pel
// becomes map[v], except where map[v] == skip, where it is left as it was. Pels outside the window
// are clipped. A degenerate region paints nothing.
// Throws kcBadArgument, changing no pel, when image is unbound or some value v of the region is not
// below map.size() (the map is checked against the region's values before anything is painted).
// Cost: the region's runs plus the pels painted.
void kfPelCombine_U8(kcPelBuffer<unsigned char>& image, const kcRLEBuffer& region,
                     const kcPair<long>& offset, const std::vector<unsigned char>& map,
                     unsigned char skip);
