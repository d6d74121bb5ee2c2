// Report writers: JSON read back by a parser, CSV quoting and exact numbers, the table's tree and columns.
#include "common/allocation_budget.h"
#include "common/json_reader.h"
#include <report/output_format.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

namespace {

using report::BlobRow;
using report::Format;
using report::ImageReport;

const std::vector<std::string> kNames = {"area", "centerOfMassX"};
const double kAwkward = 0.1 + 0.2;  // 0.30000000000000004

ImageReport failedReport(const std::string& file, const std::string& error) {
  ImageReport report;
  report.file = file, report.error = error;
  return report;
}

// Blob 1 holds hole 2, which holds blob 3; blob 4 is a second top-level blob.
std::vector<BlobRow> nestedRows() {
  return {{1, 0, 1, 1, {120, kAwkward}}, {2, 1, 0, 1, {9, 1e-300}}, {3, 2, 1, 0, {1, -0.0}},
          {4, 0, 1, 0, {std::nan(""), std::numeric_limits<double>::infinity()}}};
}

ImageReport nestedReport(const std::string& file) {
  ImageReport report = failedReport(file, "");
  report.width = 40, report.height = 30;
  report.blobs = std::make_shared<report::RowTable>(nestedRows());
  return report;
}

std::string write(Format format, const std::vector<ImageReport>& reports) {
  std::ostringstream out;
  auto writer = report::makeReportWriter(format, out, kNames);
  for (const ImageReport& report : reports) writer->image(report);
  writer->finish();
  return out.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// ---- JSON ----

// The file name holds quotes, a backslash, control characters, a stray byte and a two-byte character.
TEST(OutputJson, nestedBlobsAwkwardName_readBackWithEveryFieldAndExactValues) {
  const std::string name = std::string("q\"b\\n\nt\x01") + "\xff" + "\xc3\xa9";
  const ImageReport failed = failedReport("broken.png", "damaged PNG: bad \"CRC\"");
  ImageReport demo = nestedReport("");
  demo.demo = true;
  const auto doc = testjson::parse(write(Format::eJson, {nestedReport(name), failed, demo}));

  const auto& images = doc["images"];
  ASSERT_EQ(images.items.size(), 3u);
  EXPECT_EQ(images[0]["file"].text, std::string("q\"b\\n\nt\x01") + "\xef\xbf\xbd" + "\xc3\xa9");
  const auto& blobs = images[0]["blobs"];
  ASSERT_EQ(blobs.items.size(), 4u);
  EXPECT_EQ(blobs[2]["parent"].number, 2);
  EXPECT_EQ(blobs[0]["centerOfMassX"].number, kAwkward);
  EXPECT_EQ(blobs[1]["centerOfMassX"].number, 1e-300);
  EXPECT_TRUE(std::signbit(blobs[2]["centerOfMassX"].number));
  EXPECT_EQ(blobs[3]["area"].kind, testjson::Value::eNull);
  EXPECT_EQ(blobs[3]["centerOfMassX"].kind, testjson::Value::eNull);

  EXPECT_EQ(images[1]["error"].text, failed.error);
  EXPECT_FALSE(images[1].has("blobs"));
  EXPECT_EQ(images[2]["file"].kind, testjson::Value::eNull);
  EXPECT_EQ(testjson::parse(write(Format::eJson, {}))["images"].items.size(), 0u);
}

TEST(OutputNumbers, randomDoubles_readBackBitForBit) {
  std::mt19937_64 random(42);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    const std::string text = report::exactNumber(value);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)), std::bit_cast<std::uint64_t>(value))
        << text;
  }
  EXPECT_EQ(report::exactNumber(12.0), "12");
}

// ---- CSV ----

TEST(OutputCsv, rowsPerBlob_headerNamesAndExactValues) {
  const auto rows = lines(write(Format::eCsv, {nestedReport("a,\"b\".png"), failedReport("broken.png", "bad")}));
  ASSERT_EQ(rows.size(), 5u);  // header and four blobs; the failed image adds nothing
  EXPECT_EQ(rows[0], "file,id,parent,label,numChildren,area,centerOfMassX");
  EXPECT_EQ(rows[1], "\"a,\"\"b\"\".png\",1,0,1,1,120,0.30000000000000004");
  EXPECT_EQ(rows[4], "\"a,\"\"b\"\".png\",4,0,1,0,nan,inf");
}

// ---- table ----

TEST(OutputTable, nestedBlobs_treeOrderIndentedAndColumnsAligned) {
  ImageReport reordered = nestedReport("a.png");
  std::vector<BlobRow> swapped = nestedRows();
  std::swap(swapped[1], swapped[3]);  // writers must not rely on the input order
  reordered.blobs = std::make_shared<report::RowTable>(std::move(swapped));
  const auto rows = lines(write(Format::eTable, {reordered, failedReport("", "bad")}));
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_THAT(rows[0], testing::StartsWith("a.png: 40 x 30"));
  EXPECT_THAT(rows[1], testing::StartsWith("id"));
  EXPECT_THAT(rows[2], testing::StartsWith("1 "));
  EXPECT_THAT(rows[3], testing::StartsWith("  2 "));
  EXPECT_THAT(rows[4], testing::StartsWith("    3 "));
  EXPECT_THAT(rows[5], testing::StartsWith("4 "));
  for (std::size_t r = 2; r < rows.size(); ++r) EXPECT_EQ(rows[r].size(), rows[1].size()) << rows[r];
  EXPECT_THAT(rows[1], testing::EndsWith("centerOfMassX"));
  EXPECT_THAT(rows[2], testing::EndsWith(" 0.3"));  // rounded for reading
}

// The table keeps its cells as text until the columns are aligned, not as a string and a double
// per cell: what it holds stays near the bytes of the text it writes.
TEST(OutputTable, manyRows_heldBytesNearTheTextWritten) {
  struct Chain : report::BlobRows {  // blob i + 1 inside blob i, made as they are read
    std::size_t size() const override { return 20000; }
    void row(std::size_t i, BlobRow& out) const override {
      out.id = static_cast<long>(i) + 1, out.parent = static_cast<long>(i) % 100 == 0 ? 0 : static_cast<long>(i);
      out.label = 1, out.numChildren = 1;
      out.values.assign(12, 1.0 / 3.0 + static_cast<double>(i));
    }
  };
  ImageReport report = failedReport("chain.png", "");
  report.blobs = std::make_shared<Chain>();
  const std::vector<std::string> names(12, "m");
  std::ostringstream text;
  report::makeReportWriter(Format::eTable, text, names)->image(report);
  std::ofstream sink("/dev/null");
  const auto writer = report::makeReportWriter(Format::eTable, sink, names);
  testalloc::HeldBytes held;
  writer->image(report);
  EXPECT_LT(held.peak(), text.str().size() + 100 * report.numBlobs());
  const auto rows = lines(text.str());
  EXPECT_THAT(rows[3], testing::StartsWith("  2 "));
  EXPECT_THAT(rows[102], testing::StartsWith("101 "));
}

}  // namespace
