// blob-analyze --stream: one image read row by row, each blob tree written as it completes.
#pragma once

#include "options.h"

#include <iosfwd>
#include <stdexcept>

namespace tool {

// StreamError: the stream failed part way (an image or library error, or the rows held passing
// --max-open-pels). what() says why; the lines written before it stand.
class StreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// runStream(options, out): reads options.images[0] in bands of rows into a kcBlobStream and writes
// each tree as it completes, flushing out after each: --format json one line per tree,
// {"tree":N,"rows":R,"blobs":[{"id":1,"parent":0,"label":1,"numChildren":C,<measure>:value,...},...]}
// (ids within the tree, R the rows read when it completed); csv a header
// "tree,rows,id,parent,label,numChildren,<measures>" and a row per blob. Numbers as the JSON and
// CSV reports write them. Throws UsageError when the library refuses the settings for a stream,
// StreamError when reading or analysing fails.
void runStream(const Options& options, std::ostream& out);

}  // namespace tool
