// The three report writers of blob-analyze (table, JSON, CSV) and the text helpers they share.
#include "output_format.h"

#include <foundation/exception.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <unordered_map>

namespace tool {
namespace {

constexpr int kMaxIndentLevels = 32;
const char* const kDemoTitle = "(demo image)";

void appendUtf8(std::string& out, char32_t code) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

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

// Blobs in tree order with their depth: each parent followed by its children in id order.
// Records whose parent link is missing or circular are shown at the top level.
std::vector<std::pair<const BlobRow*, int>> treeOrder(const std::vector<BlobRow>& blobs) {
  std::unordered_map<long, std::size_t> indexOfId;
  for (std::size_t i = 0; i < blobs.size(); ++i) indexOfId.emplace(blobs[i].id, i);
  std::vector<std::vector<std::size_t>> children(blobs.size());
  std::vector<std::size_t> roots;
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    const auto parent = indexOfId.find(blobs[i].parent);
    if (blobs[i].parent == 0 || parent == indexOfId.end() || parent->second == i) roots.push_back(i);
    else children[parent->second].push_back(i);
  }
  std::vector<std::pair<const BlobRow*, int>> order;
  std::vector<bool> placed(blobs.size(), false);
  auto walkFrom = [&](std::size_t root) {
    std::vector<std::pair<std::size_t, int>> stack{{root, 0}};
    while (!stack.empty()) {
      const auto [index, depth] = stack.back();
      stack.pop_back();
      if (placed[index]) continue;
      placed[index] = true;
      order.emplace_back(&blobs[index], depth);
      for (auto child = children[index].rbegin(); child != children[index].rend(); ++child) {
        stack.emplace_back(*child, depth + 1);
      }
    }
  };
  for (std::size_t root : roots) walkFrom(root);
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    if (!placed[i]) walkFrom(i);  // a cycle of parent links
  }
  return order;
}

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
  void writeRows(const ImageReport& report) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"id", "parent", "label", "numChildren"});
    rows.front().insert(rows.front().end(), names_.begin(), names_.end());
    std::vector<BlobRow> blobs(report.numBlobs());
    for (std::size_t i = 0; i < blobs.size(); ++i) report.blobs->row(i, blobs[i]);
    std::vector<std::pair<const BlobRow*, int>> order;
    if (report.viewOrder) {
      for (const BlobRow& blob : blobs) order.emplace_back(&blob, 0);
    } else {
      order = treeOrder(blobs);
    }
    for (const auto& [blob, depth] : order) {
      std::vector<std::string> row;
      row.push_back(std::string(2 * static_cast<std::size_t>(std::min(depth, kMaxIndentLevels)), ' ') +
                    std::to_string(blob->id));
      row.push_back(std::to_string(blob->parent));
      row.push_back(std::to_string(blob->label));
      row.push_back(std::to_string(blob->numChildren));
      for (double value : blob->values) row.push_back(roundedNumber(value));
      rows.push_back(std::move(row));
    }
    writeAligned(rows);
  }

  // The id column is aligned left (it carries the indentation), every other column right.
  void writeAligned(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
      for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows) {
      std::string line;
      for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
        const std::string padding(widths[c] - row[c].size(), ' ');
        line += c == 0 ? row[c] + padding : "  " + padding + row[c];
      }
      out_ << line << '\n';
    }
  }

  std::ostream& out_;
  std::vector<std::string> names_;
  int imagesWritten_ = 0;
};

class JsonWriter : public ReportWriter {
 public:
  JsonWriter(std::ostream& out, std::vector<std::string> names) : out_(out) {
    for (const std::string& name : names) keys_.push_back(jsonString(name) + ":");
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
      out_ << (b > 0 ? ",\n" : "\n") << "{\"id\":" << blob.id << ",\"parent\":" << blob.parent
           << ",\"label\":" << blob.label << ",\"numChildren\":" << blob.numChildren;
      for (std::size_t m = 0; m < keys_.size() && m < blob.values.size(); ++m) {
        const double value = blob.values[m];
        out_ << ',' << keys_[m] << (std::isfinite(value) ? exactNumber(value) : "null");
      }
      out_ << '}';
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

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    const std::size_t length = decodeUtf8(text, i, code);
    if (length == 0) {
      appendUtf8(out, 0xFFFD);
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

std::string utf8FromWide(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) appendUtf8(out, static_cast<char32_t>(c));
  return out;
}

std::string libraryMessage(const kcException& error) {
  std::wstring text = error.message(false);
  if (text.empty()) text = error.message(true);
  return utf8FromWide(text);
}

}  // namespace tool
