// The SVG writer: a well-formed document, one element per graphic, mapped exact coordinates,
// escaping, and the element kept for a graphic that cannot be placed.
#include <graphics/svg.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Element: a start tag, its attributes and the text after it (entities decoded), and its depth.
struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  std::size_t depth;
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

// parse(s): the elements of the document after its declaration, in order. Only what this writer
// makes is accepted: one root, double-quoted attributes without '<', each named once, and matching
// end tags.
std::vector<Element> parse(const std::string& s) {
  static const std::regex kTag(R"(<(/?)([\w:-]+)((?:\s+[\w:-]+="[^"<]*")*)\s*(/?)>)");
  static const std::regex kAttribute(R"(([\w:-]+)="([^"]*)\")");
  std::vector<Element> out;
  std::vector<std::size_t> open;  // indices into out
  std::size_t pos = s.rfind("<?xml", 0) == 0 ? s.find("?>") + 2 : 0;
  for (std::smatch m;;) {
    const std::size_t lt = std::min(s.find('<', pos), s.size());
    const std::string text = decode(s.substr(pos, lt - pos));
    if (!open.empty()) out[open.back()].text += text;
    else if (text.find_first_not_of(" \n") != std::string::npos) throw std::runtime_error("text outside the root");
    if (lt == s.size()) break;
    if (!std::regex_search(s.begin() + static_cast<long>(lt), s.end(), m, kTag, std::regex_constants::match_continuous))
      throw std::runtime_error("bad tag at " + std::to_string(lt));
    pos = lt + static_cast<std::size_t>(m.length(0));
    if (m[1] == "/") {
      if (open.empty() || out[open.back()].name != m[2]) throw std::runtime_error("mismatched end tag");
      open.pop_back();
      continue;
    }
    if (open.empty() && !out.empty()) throw std::runtime_error("a second root");
    out.push_back({m[2], {}, {}, open.size()});
    const std::string attributes = m[3];
    for (std::sregex_iterator a(attributes.begin(), attributes.end(), kAttribute), end; a != end; ++a)
      if (!out.back().attributes.emplace((*a)[1], decode((*a)[2])).second) throw std::runtime_error("repeated attribute");
    if (m[4] != "/") open.push_back(out.size() - 1);
  }
  if (!open.empty() || out.empty()) throw std::runtime_error("unclosed or no root");
  return out;
}

// written(list, view, href, depth): the elements the document holds at depth (0: the root, 2: the
// graphics); a document that is not well-formed is a failure.
std::vector<Element> written(const kcGraphicList& list, const kcGraphicView& view, std::size_t depth = 2,
                             const std::string& href = "") {
  std::ostringstream out;
  kfWriteSvg(out, list, view, href);
  std::vector<Element> at;
  try {
    for (const Element& e : parse(out.str()))
      if (e.depth == depth) at.push_back(e);
  } catch (const std::runtime_error& e) {
    ADD_FAILURE() << e.what() << "\n" << out.str();
  }
  return at;
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
  const std::vector<Element> svg = written(list, view, 0, href), top = written(list, view, 1, href);
  ASSERT_EQ(svg.size(), 1u);
  EXPECT_EQ(svg[0].name, "svg");
  EXPECT_EQ(svg[0].attributes.at("width") + " " + svg[0].attributes.at("height"), "120 90");
  EXPECT_EQ(svg[0].attributes.at("viewBox"), "5 6 40 30");
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].attributes.at("href"), href);
  const std::vector<Element> g = written(list, view, 2, href);
  std::vector<std::string> names;
  for (const Element& e : g) names.push_back(e.name);
  ASSERT_EQ(names, (std::vector<std::string>{"path", "text", "polyline", "polygon", "polygon"}));
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
  for (const Element& e : written(list, {})) read.push_back(e.text);
  EXPECT_EQ(read, (std::vector<std::string>{"<&>", "a\"b'c", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "a\xEF\xBF\xBD" "b"}));
}

TEST(Svg, Svg_nonFinitePoints_elementKeptHiddenWithoutGeometry) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  kcGraphicList list;
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {nan, 1}}, true), kcColor()));
  add(list, new kcGraphicCross(kcCross({1e308, 0}, kcRadian(0), 7), kcColor()));  // overflows when mapped
  add(list, text(L"1", {0, nan}));
  kcGraphicView view;
  view.imageFromClient = kcXform<2>(kcMatrix<2>::scaling(10, 10), {});
  const std::vector<Element> g = written(list, view);
  ASSERT_EQ(g.size(), 3u);
  for (const Element& e : g) {
    EXPECT_EQ(e.attributes.at("display"), "none") << e.name;
    EXPECT_EQ(e.attributes.count("points") + e.attributes.count("d") + e.attributes.count("x"), 0u) << e.name;
  }
}

// Lists added one after another make the document of one list. The background reference, longer
// than the pieces it is written in, keeps its characters whole; a stray byte becomes U+FFFD.
TEST(Svg, Svg_writtenInPieces_theDocumentOfOneList) {
  kcGraphicList first, second, both;
  for (kcGraphicList* list : {&first, &both}) add(*list, text(L"1", {0, 0}));
  for (kcGraphicList* list : {&second, &both}) add(*list, new kcGraphicCross(kcCross({1, 1}, kcRadian(0), 4), kcColor()));
  // U+00E9 (2 bytes) and U+20AC (3 bytes) astride the first two 64 KiB boundaries.
  const std::string href = std::string(65535, 'a') + "\xC3\xA9" + std::string(65533, 'b') + "\xE2\x82\xAC" + "\xFF";
  kcGraphicView view;
  view.width = view.height = 4;
  std::ostringstream pieces, whole;
  kcSvgWriter writer(pieces, view, href);
  writer.add(first);
  writer.add(second);
  writer.finish();
  kfWriteSvg(whole, both, view, href);
  EXPECT_EQ(pieces.str(), whole.str());
  const std::string document = whole.str();  // too long for the parser's regular expressions
  const std::size_t at = document.find(" href=\"") + 7;
  EXPECT_EQ(document.substr(at, document.find('"', at) - at), href.substr(0, href.size() - 1) + "\xEF\xBF\xBD");
  EXPECT_THROW(writer.add(first), kcInvariantFailure);
}

TEST(Svg, Svg_badView_throwsBadArgumentAndWritesNothing) {
  std::ostringstream out;
  for (const auto& [zoom, width] : {std::pair{0, 0L}, {1, -1L}}) {
    kcGraphicView view;
    view.zoom = zoom;
    view.width = width;
    EXPECT_THROW(kfWriteSvg(out, kcGraphicList(), view), kcBadArgument) << zoom << " " << width;
  }
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
