// The three report writers (table, JSON, CSV) and the text helpers they share.
#include <report/output_format.h>

#include <foundation/exception.h>
#include <foundation/text.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <unordered_map>

namespace report {
namespace {

constexpr int kMaxIndentLevels = 32;
const char* const kDemoTitle = "(demo image)";

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Decodes the UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid UTF-8
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string roundedNumber(double value) {
  if (!std::isfinite(value)) return exactNumber(value);
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// Rows in tree order with their depth (rows given by id and parent): each parent followed by its
// children in row order. Rows whose parent link is missing or circular are shown at the top level.
std::vector<std::pair<std::size_t, int>> treeOrder(const std::vector<long>& ids, const std::vector<long>& parents) {
  const std::size_t n = ids.size();
  std::unordered_map<long, std::size_t> indexOfId;
  indexOfId.reserve(n);
  for (std::size_t i = 0; i < n; ++i) indexOfId.emplace(ids[i], i);
  // Children as one list per parent, in row order: first[p] .. first[p + 1] of kids.
  constexpr std::size_t kRoot = static_cast<std::size_t>(-1);
  std::vector<std::size_t> parentIndex(n, kRoot);
  std::vector<std::size_t> first(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const auto parent = indexOfId.find(parents[i]);
    if (parents[i] != 0 && parent != indexOfId.end() && parent->second != i) {
      parentIndex[i] = parent->second;
      ++first[parent->second + 1];
    }
  }
  indexOfId = {};
  for (std::size_t p = 0; p < n; ++p) first[p + 1] += first[p];
  std::vector<std::size_t> kids(first[n]);
  {
    std::vector<std::size_t> fill(first.begin(), first.end() - 1);
    for (std::size_t i = 0; i < n; ++i)
      if (parentIndex[i] != kRoot) kids[fill[parentIndex[i]]++] = i;
  }
  std::vector<std::pair<std::size_t, int>> order;
  order.reserve(n);
  std::vector<bool> placed(n, false);
  std::vector<std::pair<std::size_t, int>> stack;
  auto walkFrom = [&](std::size_t root) {
    stack.assign(1, {root, 0});
    while (!stack.empty()) {
      const auto [index, depth] = stack.back();
      stack.pop_back();
      if (placed[index]) continue;
      placed[index] = true;
      order.emplace_back(index, depth);
      for (std::size_t k = first[index + 1]; k-- > first[index];) stack.emplace_back(kids[k], depth + 1);
    }
  };
  for (std::size_t i = 0; i < n; ++i)
    if (parentIndex[i] == kRoot) walkFrom(i);
  for (std::size_t i = 0; i < n; ++i) {
    if (!placed[i]) walkFrom(i);  // a cycle of parent links
  }
  return order;
}

// The table's cells as text, a row's cells one after another, each with its length (at most 255
// characters: numbers and ids are far shorter), until the column widths are known.
class TableCells {
 public:
  explicit TableCells(std::size_t columns) : columns_(columns), widths_(columns, 0) {}

  void add(std::string_view cell) {
    const std::size_t c = lengths_.size() % columns_;
    text_.append(cell);
    lengths_.push_back(static_cast<unsigned char>(cell.size()));
    widths_[c] = std::max(widths_[c], cell.size());
  }
  void startRow() { rowStart_.push_back(text_.size()); }

  std::size_t width(std::size_t column) const { return widths_[column]; }
  void widen(std::size_t column, std::size_t width) { widths_[column] = std::max(widths_[column], width); }
  // row(r): the text of row r's cells, one after another; length(r, c): that of cell c.
  std::string_view row(std::size_t r) const { return std::string_view(text_).substr(rowStart_[r]); }
  std::size_t length(std::size_t r, std::size_t c) const { return lengths_[r * columns_ + c]; }

 private:
  std::size_t columns_;
  std::vector<std::size_t> widths_;
  std::string text_;
  std::vector<unsigned char> lengths_;
  std::vector<std::size_t> rowStart_;
};

class TableWriter : public ReportWriter {
 public:
  TableWriter(std::ostream& out, std::vector<std::string> names) : out_(out), names_(std::move(names)) {}

  void image(const ImageReport& report) override {
    if (!report.error.empty()) return;
    if (imagesWritten_++ > 0) out_ << '\n';
    const std::size_t n = report.numBlobs();
    out_ << (report.demo ? kDemoTitle : report.file.c_str()) << ": " << report.width << " x " << report.height
         << ", " << n << (n == 1 ? " blob or hole" : " blobs and holes") << (report.viewOrder ? " shown\n" : "\n");
    if (n > 0) writeRows(report);
    for (const std::string& text : report.diagnostics) out_ << '\n' << text;
  }

  void finish() override { out_.flush(); }

 private:
  // Every row is read once and kept as text (row 0 is the header); the id column gets its
  // indentation when it is written. The id column is aligned left, every other column right.
  void writeRows(const ImageReport& report) {
    const std::size_t n = report.numBlobs();
    const std::size_t columns = 4 + names_.size();
    TableCells cells(columns);
    cells.startRow();
    for (const char* name : {"id", "parent", "label", "numChildren"}) cells.add(name);
    for (const std::string& name : names_) cells.add(std::string_view(name).substr(0, 255));
    std::vector<long> ids(n), parents(n);
    BlobRow blob;
    for (std::size_t i = 0; i < n; ++i) {
      report.blobs->row(i, blob);
      ids[i] = blob.id;
      parents[i] = blob.parent;
      cells.startRow();
      cells.add(std::to_string(blob.id));
      cells.add(std::to_string(blob.parent));
      cells.add(std::to_string(blob.label));
      cells.add(std::to_string(blob.numChildren));
      for (std::size_t m = 0; m < names_.size(); ++m)
        cells.add(m < blob.values.size() ? roundedNumber(blob.values[m]) : std::string());
    }
    std::vector<std::pair<std::size_t, int>> order;
    if (report.viewOrder) {
      order.reserve(n);
      for (std::size_t i = 0; i < n; ++i) order.emplace_back(i, 0);
    } else {
      order = treeOrder(ids, parents);
    }
    ids = {};
    parents = {};
    const auto indent = [](int depth) { return 2 * static_cast<std::size_t>(std::min(depth, kMaxIndentLevels)); };
    for (const auto& [index, depth] : order) cells.widen(0, indent(depth) + cells.length(index + 1, 0));
    std::string line;
    const auto writeLine = [&](std::size_t row, std::size_t indentation) {
      std::string_view text = cells.row(row);
      line.assign(indentation, ' ');
      std::size_t length = cells.length(row, 0);
      line.append(text.substr(0, length)).append(cells.width(0) - indentation - length, ' ');
      text.remove_prefix(length);
      for (std::size_t c = 1; c < columns; ++c) {
        length = cells.length(row, c);
        line.append(2 + cells.width(c) - length, ' ').append(text.substr(0, length));
        text.remove_prefix(length);
      }
      line += '\n';
      out_ << line;
    };
    writeLine(0, 0);
    for (const auto& [index, depth] : order) writeLine(index + 1, indent(depth));
  }

  std::ostream& out_;
  std::vector<std::string> names_;
  int imagesWritten_ = 0;
};

class JsonWriter : public ReportWriter {
 public:
  JsonWriter(std::ostream& out, const std::vector<std::string>& names) : out_(out) {
    for (const std::string& name : names) keys_.push_back(jsonString(name));
    out_ << "{\"images\":[";
  }

  void image(const ImageReport& report) override {
    out_ << (imagesWritten_++ > 0 ? ",\n" : "\n") << "{\"file\":" << (report.demo ? "null" : jsonString(report.file));
    if (!report.error.empty()) {
      out_ << ",\"error\":" << jsonString(report.error) << "}";
      return;
    }
    out_ << ",\"width\":" << report.width << ",\"height\":" << report.height << ",\"blobs\":[";
    BlobRow blob;
    for (std::size_t b = 0; b < report.numBlobs(); ++b) {
      report.blobs->row(b, blob);
      out_ << (b > 0 ? ",\n" : "\n") << jsonBlob(blob, keys_);
    }
    out_ << "]}";
  }

  void finish() override { out_ << "\n]}\n" << std::flush; }

 private:
  std::ostream& out_;
  std::vector<std::string> keys_;
  int imagesWritten_ = 0;
};

class CsvWriter : public ReportWriter {
 public:
  CsvWriter(std::ostream& out, const std::vector<std::string>& names) : out_(out) {
    out_ << "file,id,parent,label,numChildren";
    for (const std::string& name : names) out_ << ',' << csvField(name);
    out_ << '\n';
  }

  void image(const ImageReport& report) override {
    if (!report.error.empty()) return;
    const std::string file = report.demo ? std::string() : csvField(report.file);
    BlobRow blob;
    for (std::size_t b = 0; b < report.numBlobs(); ++b) {
      report.blobs->row(b, blob);
      out_ << file << ',' << blob.id << ',' << blob.parent << ',' << blob.label << ',' << blob.numChildren;
      for (double value : blob.values) out_ << ',' << exactNumber(value);
      out_ << '\n';
    }
  }

  void finish() override { out_.flush(); }

 private:
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<ReportWriter> makeReportWriter(Format format, std::ostream& out, std::vector<std::string> names) {
  switch (format) {
    case Format::eJson:
      return std::make_unique<JsonWriter>(out, std::move(names));
    case Format::eCsv:
      return std::make_unique<CsvWriter>(out, names);
    case Format::eTable:
      break;
  }
  return std::make_unique<TableWriter>(out, std::move(names));
}

std::string exactNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  double back = 0;
  const auto parsed = std::from_chars(text, result.ptr, back);
  if (result.ec != std::errc() || parsed.ec != std::errc() || std::memcmp(&back, &value, sizeof value) != 0) {
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
  }
  return std::string(text, result.ptr);
}

std::string jsonNumber(double value) { return std::isfinite(value) ? exactNumber(value) : "null"; }

std::string jsonBlob(const BlobRow& row, const std::vector<std::string>& keys) {
  std::string text = "{\"id\":" + std::to_string(row.id) + ",\"parent\":" + std::to_string(row.parent) +
                     ",\"label\":" + std::to_string(row.label) + ",\"numChildren\":" + std::to_string(row.numChildren);
  for (std::size_t m = 0; m < keys.size() && m < row.values.size(); ++m)
    text += "," + keys[m] + ":" + jsonNumber(row.values[m]);
  return text + "}";
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    const std::size_t length = decodeUtf8(text, i, code);
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (code == '"' || code == '\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out + "\"";
}

std::string libraryMessage(const kcException& error) {
  std::wstring text = error.message(false);
  if (text.empty()) text = error.message(true);
  return kfUtf8(text);
}

}  // namespace report
