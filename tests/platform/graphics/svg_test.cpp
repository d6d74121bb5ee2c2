// The SVG writer: a well-formed document, one element per graphic, mapped exact coordinates,
// escaping, and the document written in pieces.
#include <graphics/svg.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Element: a start tag, its attributes and the text after it, entities decoded.
struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
};

// decode(s): s with its entity references replaced; a bare '&' or an unknown entity fails.
std::string decode(std::string s) {
  static const std::map<std::string, std::string> kNamed = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
  for (std::size_t amp = s.find('&'); amp != std::string::npos; amp = s.find('&', amp + 1)) {
    const std::size_t end = s.find(';', amp);
    const auto named = kNamed.find(end == std::string::npos ? "" : s.substr(amp + 1, end - amp - 1));
    if (named == kNamed.end()) throw std::runtime_error("bad entity");
    s.replace(amp, end - amp + 1, named->second);
  }
  return s;
}

// written(list, view, href): the start tags of the document, in order. Every '<' must open a tag
// whose attributes are double-quoted without '<', and tags must balance; else a failure.
std::vector<Element> written(const kcGraphicList& list, const kcGraphicView& view, const std::string& href = "") {
  static const std::regex kTag(R"(<(/?)([\w-]+)((?:\s+[\w:-]+="[^"<]*")*)\s*(/?)>([^<]*))");
  static const std::regex kAttribute(R"(([\w:-]+)="([^"]*)\")");
  std::ostringstream out;
  kfWriteSvg(out, list, view, href);
  const std::string doc = out.str();
  std::vector<Element> tags;
  std::size_t matched = doc.find("?>") + 2 + doc.substr(doc.find("?>") + 2).find('<'), depth = 0;
  try {
    for (std::sregex_iterator t(doc.begin() + static_cast<long>(matched), doc.end(), kTag), end; t != end; ++t) {
      const std::smatch& m = *t;
      matched += static_cast<std::size_t>(m.length(0));
      if (m[1] == "/") {
        if (depth-- == 0) throw std::runtime_error("unbalanced");
        continue;
      }
      depth += m[4] != "/";
      tags.push_back({m[2], {}, decode(m[5])});
      const std::string attributes = m[3];
      for (std::sregex_iterator a(attributes.begin(), attributes.end(), kAttribute); a != end; ++a)
        tags.back().attributes.emplace((*a)[1], decode((*a)[2]));
    }
    if (matched != doc.size() || depth != 0) throw std::runtime_error("not well-formed at " + std::to_string(matched));
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what() << "\n" << doc;
  }
  return tags;
}

// graphics(tags): the tags after the group's.
std::vector<Element> graphics(const std::vector<Element>& tags) {
  auto g = std::find_if(tags.begin(), tags.end(), [](const Element& e) { return e.name == "g"; });
  return {g == tags.end() ? g : g + 1, tags.end()};
}

std::vector<double> numbers(std::string list) {
  for (char& c : list) c = c == ',' || c == 'M' || c == 'L' ? ' ' : c;
  std::istringstream in(list);
  std::vector<double> result;
  for (double v; in >> v;) result.push_back(v);
  return result;
}

template <class G>
void add(kcGraphicList& list, G* g) { list.append(kcGraphicHandle(g), true); }

kcGraphicText* text(std::wstring s, kcVector<2> at) {
  return new kcGraphicText(std::move(s), at, {0, 0}, kcUIFormat(0, 0), kcColor::greenColor(), kcColor::blackColor());
}

TEST(Svg, Svg_oneOfEachKind_oneElementPerGraphicInOrderAtExactImagePoints) {
  const kcColor green = kcColor::greenColor();
  const double fine = 123456.78901234567;  // needs 17 digits
  kcGraphicList list;
  add(list, new kcGraphicCross(kcCross({1, 1}, kcRadian(0), 4), green));
  add(list, text(L"12", {-1, 0.5}));
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{1, 2}, {3, 4}, {fine, 0.1}}, false), green));
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {5, 1}, {2, 7}}, true), green));
  add(list, new kcGraphicSimple<kcAffineRectangle>(kcAffineRectangle({9, 9}, 4, 2, kcRadian(1), kcRadian(0)), green));
  const kcGraphicView view{kcXform<2>(kcMatrix<2>::scaling(2, 3), {10, 20}), {5, 6}, 40, 30, 3};
  const std::string href = "dir/a&b\"c'<d>.png";
  const std::vector<Element> tags = written(list, view, href), g = graphics(tags);
  ASSERT_TRUE(tags.size() == 8 && tags[1].name == "image");
  const auto& svg = tags[0].attributes;
  EXPECT_EQ(tags[0].name + " " + svg.at("width") + " " + svg.at("height") + " " + svg.at("viewBox"), "svg 120 90 5 6 40 30");
  EXPECT_EQ(tags[1].attributes.at("href"), href);
  std::string names;
  for (const Element& e : g) names += e.name + " ";
  ASSERT_EQ(names, "path text polyline polygon polygon ");
  EXPECT_EQ(g[0].attributes.at("stroke"), "#00ff00");
  EXPECT_EQ(numbers(g[0].attributes.at("d")), (std::vector<double>{8, 23, 16, 23, 12, 17, 12, 29}));
  EXPECT_EQ(numbers(g[1].attributes.at("x") + " " + g[1].attributes.at("y")), (std::vector<double>{8, 21.5}));
  EXPECT_EQ(numbers(g[2].attributes.at("points")), (std::vector<double>{12, 26, 16, 32, 2 * fine + 10, 0.1 * 3 + 20}));
}

// Text is escaped and written as UTF-8; a character XML does not allow becomes U+FFFD.
TEST(Svg, Svg_text_escapedAndUtf8) {
  const std::wstring texts[] = {L"<&>", L"a\"b'c", L"\u00e9\u20ac\U0001F600", std::wstring(L"a") + wchar_t(1) + L"b"};
  kcGraphicList list;
  for (const std::wstring& t : texts) add(list, text(t, {0, 0}));
  std::vector<std::string> read;
  for (const Element& e : graphics(written(list, {}))) read.push_back(e.text);
  EXPECT_EQ(read, (std::vector<std::string>{"<&>", "a\"b'c", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "a\xEF\xBF\xBD" "b"}));
}

// Lists added one after another make the document of one list; the background reference, longer
// than the pieces it is written in, keeps its characters whole (U+00E9 and U+20AC astride the
// first two 64 KiB boundaries). A bad view is refused before anything is written.
TEST(Svg, Svg_writtenInPieces_theDocumentOfOneList_badViewWritesNothing) {
  kcGraphicList first, second, both;
  for (kcGraphicList* list : {&first, &both}) add(*list, text(L"1", {0, 0}));
  for (kcGraphicList* list : {&second, &both}) add(*list, new kcGraphicCross(kcCross({1, 1}, kcRadian(0), 4), kcColor()));
  const std::string href = std::string(65535, 'a') + "\xC3\xA9" + std::string(65533, 'b') + "\xE2\x82\xAC";
  kcGraphicView view;
  view.width = view.height = 4;
  std::ostringstream pieces, whole;
  kcSvgWriter writer(pieces, view, href);
  writer.add(first);
  writer.add(second);
  writer.finish();
  kfWriteSvg(whole, both, view, href);
  EXPECT_EQ(pieces.str(), whole.str());
  EXPECT_NE(whole.str().find(" href=\"" + href + "\""), std::string::npos);
  EXPECT_THROW(writer.add(first), kcInvariantFailure);
  std::ostringstream out;
  for (const auto& [zoom, width] : {std::pair{0, 0L}, {1, -1L}}) {
    view.zoom = zoom;
    view.width = width;
    EXPECT_THROW(kfWriteSvg(out, kcGraphicList(), view), kcBadArgument) << zoom << " " << width;
  }
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
