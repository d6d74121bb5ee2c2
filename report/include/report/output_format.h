// Reports of an analysis: the per-blob row and the table, JSON and CSV writers over the rows, which
// blob-analyze prints and the Python module's Scene.to_json returns.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class kcException;

namespace report {

// Format: a report's form; formatChoices() (choices.h) names them.
enum class Format { eTable, eJson, eCsv };

// BlobRow: one blob or hole. parent is 0 at the top level; values follow the writer's measure names.
struct BlobRow {
  long id = 0;
  long parent = 0;
  long label = 0;
  long numChildren = 0;
  std::vector<double> values;
};

// BlobRows: the rows of one image, read one at a time, so that a report need not hold them all.
class BlobRows {
 public:
  virtual ~BlobRows() = default;
  // size(): the number of rows.
  virtual std::size_t size() const = 0;
  // row(i, out): fills out with row i (i < size()), reusing the storage of out.values.
  virtual void row(std::size_t i, BlobRow& out) const = 0;
};

// RowTable: rows held in memory.
class RowTable : public BlobRows {
 public:
  explicit RowTable(std::vector<BlobRow> rows) : rows_(std::move(rows)) {}
  std::size_t size() const override { return rows_.size(); }
  void row(std::size_t i, BlobRow& out) const override { out = rows_[i]; }

 private:
  std::vector<BlobRow> rows_;
};

// ImageReport: the outcome for one image. A non-empty error means the image failed and has no blobs.
struct ImageReport {
  std::string file;   // as given on the command line; ignored when demo is true
  bool demo = false;  // the built-in demo image
  long width = 0;
  long height = 0;
  std::shared_ptr<const BlobRows> blobs;  // null when none; plain id order, or view order when viewOrder
  bool viewOrder = false;      // blobs are a filtered and sorted view
  std::vector<std::string> diagnostics;  // --report: the analysis's text reports (UTF-8), in order
  std::string error;           // UTF-8

  std::size_t numBlobs() const { return blobs ? blobs->size() : 0; }
};

// ReportWriter: writes the reports of one run, image after image, to a stream.
//   table: per image a title line and aligned columns; blobs in tree order (each parent followed by
//          its children in id order), the id indented two spaces per level (at most 32 levels), or
//          for a view in the order given, without indentation; numbers rounded to 6 significant
//          digits; then each text of diagnostics after a blank line. Failed images are left out.
//   json:  {"images":[{"file":F,"width":W,"height":H,"blobs":[{"id":1,"parent":0,"label":1,
//          "numChildren":N,<measure>:value,...},...]},...]} with blobs in the order given; F is null for the
//          demo image; a failed image is {"file":F,"error":"text"}. Numbers read back to the same
//          double; NaN and infinities are written as null. Invalid UTF-8 in names becomes U+FFFD.
//   csv:   a header "file,id,parent,label,numChildren,<measures>" and one row per blob; numbers read
//          back to the same double ("nan", "inf", "-inf" when not finite); the demo's file is empty;
//          fields are quoted when they hold a comma, a quote or a line break. Failed images are left out.
// Nothing is promised about white space other than the table's alignment.
class ReportWriter {
 public:
  virtual ~ReportWriter() = default;
  // image(report): writes one image, reading each of its rows once (the table: all of them before
  // writing). Every row's values must hold one value per measure name.
  virtual void image(const ImageReport& report) = 0;
  // finish(): writes what closes the output (JSON's closing brackets). Call once, after the images.
  virtual void finish() = 0;
};

// makeReportWriter(format, out, measureNames): a writer to out, which must outlive it. The CSV
// header and the JSON opening are written at once.
std::unique_ptr<ReportWriter> makeReportWriter(Format format, std::ostream& out,
                                               std::vector<std::string> measureNames);

// exactNumber(value): the shortest decimal text that reads back (strtod) to exactly value;
// "nan", "inf" or "-inf" when value is not finite.
std::string exactNumber(double value);

// jsonNumber(value): exactNumber(value) for a finite value, "null" otherwise (as the JSON report
// writes measures).
std::string jsonNumber(double value);

// jsonBlob(row, keys): row as the JSON report writes a blob: {"id":..,"parent":..,"label":..,
// "numChildren":..,<key>:value,...}, one value per key; keys are the measure names as jsonString
// quotes them.
std::string jsonBlob(const BlobRow& row, const std::vector<std::string>& keys);

// jsonString(text): text as a quoted JSON string, escaping quotes, backslashes and control
// characters and replacing every byte that is not part of valid UTF-8 by U+FFFD.
std::string jsonString(std::string_view text);

// libraryMessage(error): the library's own message of error in UTF-8 (with the error class and
// number when the error carries no text).
std::string libraryMessage(const kcException& error);

}  // namespace report
