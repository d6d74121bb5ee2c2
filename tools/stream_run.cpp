// blob-analyze --stream: the rows of the image fed to the library's stream in bands, the trees
// written as lines.
#include "stream_run.h"

#include "analysis_adapter.h"

#include <report/blob_rows.h>
#include <report/image_io.h>
#include <report/output_format.h>

#include <blob/blob.h>
#include <blob/blobstream.h>

#include <foundation/exception.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tool {
namespace {

using namespace report;

constexpr long kBandRows = 1;  // rows read and fed at once: a tree is written the row after it ends

// writeTree(options, number, rows, scene, out): the tree's line (json) or rows (csv).
void writeTree(const Options& options, long number, long rows, const kcBlobSceneDescription& scene,
               std::ostream& out) {
  const bool json = options.format == Format::eJson;
  std::string text = json ? "{\"tree\":" + std::to_string(number) + ",\"rows\":" + std::to_string(rows) + ",\"blobs\":[" : "";
  std::vector<std::string> keys;
  for (const MeasureInfo& info : options.measures) keys.push_back(jsonString(info.name));
  BlobRow row;
  bool first = true;
  for (const kcBlob* blob : scene.allBlobs(false)) {
    fillRow(*blob, options.measures, row);
    if (json) {
      text += (first ? "" : ",") + jsonBlob(row, keys);
    } else {
      text += std::to_string(number) + "," + std::to_string(rows) + "," + std::to_string(row.id) + "," +
              std::to_string(row.parent) + "," + std::to_string(row.label) + "," + std::to_string(row.numChildren);
      for (double value : row.values) text += "," + exactNumber(value);
      text += "\n";
    }
    first = false;
  }
  out << text << (json ? "]}\n" : "");
  out.flush();
}

}  // namespace

void runStream(const Options& options, std::ostream& out) {
  const std::string& path = options.images[0];
  try {
    ImageRows image(path, options.grey);
    std::unique_ptr<kcBlobStream> stream;
    try {
      stream = std::make_unique<kcBlobStream>(makeParams(options), image.width());
    } catch (const kcException& error) {
      throw UsageError(libraryMessage(error));
    }
    kcBlobSceneDescription settings;
    setView(options, settings);  // refused here, before any row is read, as for an image
    if (options.format == Format::eCsv) {
      out << "tree,rows,id,parent,label,numChildren";
      for (const MeasureInfo& info : options.measures) out << "," << info.name;
      out << "\n";
      out.flush();
    }
    const auto writeReady = [&] {
      long number = 0;
      while (auto scene = stream->take(&number)) {
        setView(options, *scene);
        writeTree(options, number, stream->rowsFed(), *scene, out);
      }
    };
    std::vector<unsigned char> pels;
    kcPelBuffer<unsigned char> band(image.width(), kBandRows);
    while (const long n = image.read(kBandRows, pels)) {
      if (n != band.height()) band = kcPelBuffer<unsigned char>(image.width(), n);
      for (long y = 0; y < n; ++y)
        std::copy_n(pels.data() + y * image.width(), image.width(), band.pointToRow(y));
      stream->feed(band);
      writeReady();
      if (static_cast<std::uint64_t>(stream->rowsHeld()) * static_cast<std::uint64_t>(image.width()) >
          options.maxOpenPels) {
        throw StreamError("the rows held for open blobs pass --max-open-pels " + std::to_string(options.maxOpenPels) +
                          " pels at row " + std::to_string(stream->rowsFed()));
      }
    }
    stream->finish();
    writeReady();
  } catch (const ImageError& error) {
    throw StreamError(path + ": " + error.what());
  } catch (const kcException& error) {
    throw StreamError(path + ": " + libraryMessage(error));
  }
}

}  // namespace tool
