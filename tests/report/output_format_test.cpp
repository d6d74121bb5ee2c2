// Report writers: JSON read back by a parser, CSV quoting and exact numbers, the table's tree and columns.
#include "common/json_reader.h"
#include <report/output_format.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>

namespace {

using report::BlobRow;
using report::Format;
using report::ImageReport;
using testing::StartsWith;

const std::vector<std::string> kNames = {"area", "centerOfMassX"};
const double kAwkward = 0.1 + 0.2;  // 0.30000000000000004

// imageReport(file, error, rows): an image of 40 x 30 pels with rows, or a failed one.
ImageReport imageReport(const std::string& file, const std::string& error, std::vector<BlobRow> rows = {}) {
  ImageReport r;
  r.file = file, r.error = error, r.width = 40, r.height = 30;
  if (!rows.empty()) r.blobs = std::make_shared<report::RowTable>(std::move(rows));
  return r;
}

// Blob 1 holds hole 2, which holds blob 3; blob 4 is a second top-level blob.
std::vector<BlobRow> nestedRows() {
  return {{1, 0, 1, 1, {120, kAwkward}}, {2, 1, 0, 1, {9, 1e-300}}, {3, 2, 1, 0, {1, -0.0}},
          {4, 0, 1, 0, {std::nan(""), std::numeric_limits<double>::infinity()}}};
}

std::string write(Format format, const std::vector<ImageReport>& reports) {
  std::ostringstream out;
  auto writer = report::makeReportWriter(format, out, kNames);
  for (const ImageReport& r : reports) writer->image(r);
  writer->finish();
  return out.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// The file name holds quotes, backslashes, control characters at both ends of their range, a stray
// byte and a two-byte character.
TEST(OutputJson, nestedBlobsAwkwardName_readBackWithEveryFieldAndExactValues) {
  const std::string name = std::string("q\"b\\n\\u0041\nt\x01\x1f") + "\xff" + "\xc3\xa9";
  const ImageReport failed = imageReport("broken.png", "damaged PNG: bad \"CRC\"");
  ImageReport demo = imageReport("", "", nestedRows());
  demo.demo = true;
  const auto doc = testjson::parse(write(Format::eJson, {imageReport(name, "", nestedRows()), failed, demo}));
  const auto& images = doc["images"];
  ASSERT_EQ(images.items.size(), 3u);
  EXPECT_EQ(images[0]["file"].text, std::string("q\"b\\n\\u0041\nt\x01\x1f") + "\xef\xbf\xbd" + "\xc3\xa9");
  const auto& blobs = images[0]["blobs"];
  ASSERT_EQ(blobs.items.size(), 4u);
  EXPECT_EQ(blobs[2]["parent"].number, 2);
  EXPECT_EQ(blobs[0]["centerOfMassX"].number, kAwkward);
  EXPECT_EQ(blobs[1]["centerOfMassX"].number, 1e-300);
  EXPECT_TRUE(std::signbit(blobs[2]["centerOfMassX"].number));
  EXPECT_TRUE(blobs[3]["area"].kind == testjson::Value::eNull &&
              blobs[3]["centerOfMassX"].kind == testjson::Value::eNull);
  EXPECT_TRUE(images[1]["error"].text == failed.error && !images[1].has("blobs"));
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

TEST(OutputCsv, rowsPerBlob_headerNamesAndExactValues) {
  const auto rows =
      lines(write(Format::eCsv, {imageReport("a,\"b\".png", "", nestedRows()), imageReport("broken.png", "bad")}));
  ASSERT_EQ(rows.size(), 5u);  // header and four blobs; the failed image adds nothing
  EXPECT_EQ(rows[0], "file,id,parent,label,numChildren,area,centerOfMassX");
  EXPECT_EQ(rows[1], "\"a,\"\"b\"\".png\",1,0,1,1,120,0.30000000000000004");
  EXPECT_EQ(rows[4], "\"a,\"\"b\"\".png\",4,0,1,0,nan,inf");
}

// Rows in tree order whatever the input order, ids indented by level, numbers rounded for reading.
TEST(OutputTable, nestedBlobs_treeOrderIndentedAndColumnsAligned) {
  std::vector<BlobRow> swapped = nestedRows();
  std::swap(swapped[1], swapped[3]);
  const auto rows = lines(write(Format::eTable, {imageReport("a.png", "", swapped), imageReport("", "bad")}));
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_THAT(rows[0], StartsWith("a.png: 40 x 30"));
  EXPECT_THAT(rows[1], StartsWith("id"));
  const char* const ids[] = {"1 ", "  2 ", "    3 ", "4 "};
  for (std::size_t r = 2; r < rows.size(); ++r) {
    EXPECT_THAT(rows[r], StartsWith(ids[r - 2]));
    EXPECT_EQ(rows[r].size(), rows[1].size()) << rows[r];
  }
  EXPECT_THAT(rows[1], testing::EndsWith("centerOfMassX"));
  EXPECT_THAT(rows[2], testing::EndsWith(" 0.3"));
}

}  // namespace
