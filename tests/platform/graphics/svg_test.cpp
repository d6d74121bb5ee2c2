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

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::vector<Element> children;
  std::string text;  // character data, entities decoded
};

[[noreturn]] void fail(const std::string& what, std::size_t at) {
  throw std::runtime_error(what + " at offset " + std::to_string(at));
}

// decode(s, at): s with its entity references replaced; a bare '&' or an unknown entity fails.
std::string decode(std::string s, std::size_t at) {
  static const std::map<std::string, std::string> kNamed = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
  for (std::size_t amp = s.find('&'); amp != std::string::npos; amp = s.find('&', amp + 1)) {
    const std::size_t end = s.find(';', amp);
    const auto named = kNamed.find(end == std::string::npos ? "" : s.substr(amp + 1, end - amp - 1));
    if (named == kNamed.end()) fail("bad entity", at + amp);
    s.replace(amp, end - amp + 1, named->second);
  }
  return s;
}

// element(s, pos): the element starting at pos, which moves past it. Only what this writer makes is
// accepted: double-quoted attributes without '<', each named once, and matching end tags.
Element element(const std::string& s, std::size_t& pos) {
  static const std::regex kStart(R"(<([\w:-]+)((?:\s+[\w:-]+="[^"<]*")*)\s*(/?)>)");
  static const std::regex kAttribute(R"(([\w:-]+)="([^"]*)\")");
  std::smatch m;
  if (!std::regex_search(s.begin() + static_cast<long>(pos), s.end(), m, kStart, std::regex_constants::match_continuous))
    fail("bad start tag", pos);
  Element e{m[1], {}, {}, {}};
  const std::string attributes = m[2];
  for (std::sregex_iterator a(attributes.begin(), attributes.end(), kAttribute), end; a != end; ++a)
    if (!e.attributes.emplace((*a)[1], decode((*a)[2], pos)).second) fail("repeated attribute", pos);
  pos += static_cast<std::size_t>(m.length(0));
  if (m[3] == "/") return e;
  for (;;) {
    const std::size_t lt = s.find('<', pos);
    if (lt == std::string::npos) fail("unclosed <" + e.name + ">", pos);
    e.text += decode(s.substr(pos, lt - pos), pos);
    pos = lt;
    if (s.compare(pos, 2, "</") == 0) break;
    e.children.push_back(element(s, pos));
  }
  const std::string close = "</" + e.name + ">";
  if (s.compare(pos, close.size(), close) != 0) fail("mismatched end of <" + e.name + ">", pos);
  pos += close.size();
  return e;
}

// writeAndRead(list, view, href): the root of the document written, after its declaration; a
// document that is not well-formed, or has anything after the root, is a failure.
Element writeAndRead(const kcGraphicList& list, const kcGraphicView& view, const std::string& href = "") {
  std::ostringstream out;
  kfWriteSvg(out, list, view, href);
  const std::string s = out.str();
  try {
    std::size_t pos = s.find_first_not_of(" \n", s.rfind("<?xml", 0) == 0 ? s.find("?>") + 2 : 0);
    if (pos == std::string::npos) fail("no root element", 0);
    const Element root = element(s, pos);
    if (s.find_first_not_of(" \n", pos) != std::string::npos) fail("text after the root element", pos);
    return root;
  } catch (const std::runtime_error& e) {
    ADD_FAILURE() << e.what() << "\n" << s;
    return {};
  }
}

// drawn(list, view): the elements of the graphics, read from the document's <g>.
std::vector<Element> drawn(const kcGraphicList& list, const kcGraphicView& view = {}) {
  const Element svg = writeAndRead(list, view);
  if (svg.children.empty() || svg.children.back().name != "g") ADD_FAILURE() << "no <g>";
  return svg.children.empty() ? std::vector<Element>{} : svg.children.back().children;
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

TEST(Svg, oneOfEachKind_wellFormedWithOneElementPerGraphicInOrder_atExactImagePoints) {
  const kcColor green = kcColor::greenColor();
  const double fine = 123456.78901234567;  // needs 17 digits
  kcGraphicList list;
  add(list, new kcGraphicCross(kcCross({1, 1}, kcRadian(0), 4), green));
  add(list, text(L"12", {-1, 0.5}));
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{1, 2}, {3, 4}, {fine, 0.1}}, false), green));
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {5, 1}, {2, 7}}, true), green));
  add(list, new kcGraphicSimple<kcAffineRectangle>(kcAffineRectangle({9, 9}, 4, 2, kcRadian(1), kcRadian(0)), green));
  kcGraphicView view;
  view.imageFromClient = kcXform<2>(kcMatrix<2>::scaling(2, 3), {10, 20});
  view.origin = {5, 6};
  view.width = 40;
  view.height = 30;
  view.zoom = 3;
  const Element svg = writeAndRead(list, view, "dir/a&b\"c'<d>.png");
  EXPECT_EQ(svg.name, "svg");
  EXPECT_EQ(svg.attributes.at("width"), "120");
  EXPECT_EQ(svg.attributes.at("height"), "90");
  EXPECT_EQ(svg.attributes.at("viewBox"), "5 6 40 30");
  ASSERT_EQ(svg.children.size(), 2u);
  EXPECT_EQ(svg.children[0].attributes.at("href"), "dir/a&b\"c'<d>.png");
  const std::vector<Element>& g = svg.children[1].children;
  std::vector<std::string> names;
  for (const Element& e : g) names.push_back(e.name);
  ASSERT_EQ(names, (std::vector<std::string>{"path", "text", "polyline", "polygon", "polygon"}));
  EXPECT_EQ(g[0].attributes.at("stroke"), "#00ff00");
  EXPECT_EQ(numbers(g[0].attributes.at("d")), (std::vector<double>{8, 23, 16, 23, 12, 17, 12, 29}));
  EXPECT_EQ(numbers(g[1].attributes.at("x") + " " + g[1].attributes.at("y")), (std::vector<double>{8, 21.5}));
  EXPECT_EQ(numbers(g[2].attributes.at("points")), (std::vector<double>{12, 26, 16, 32, 2 * fine + 10, 0.1 * 3 + 20}));
}

TEST(Svg, text_escapedAndUtf8) {
  const std::wstring texts[] = {L"<&>", L"a\"b'c", L"\u00e9\u20ac\U0001F600", std::wstring(L"a") + wchar_t(1) + L"b"};
  kcGraphicList list;
  for (const std::wstring& t : texts) add(list, text(t, {0, 0}));
  std::vector<std::string> read;
  for (const Element& e : drawn(list)) read.push_back(e.text);
  EXPECT_EQ(read, (std::vector<std::string>{"<&>", "a\"b'c", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                                            "a\xEF\xBF\xBD" "b"}));  // U+0001 is not allowed in XML
}

TEST(Svg, nonFinitePoints_elementKeptHiddenWithoutGeometry) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  kcGraphicList list;
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {nan, 1}}, true), kcColor()));
  add(list, new kcGraphicCross(kcCross({1e308, 0}, kcRadian(0), 7), kcColor()));  // overflows when mapped
  add(list, text(L"1", {0, nan}));
  kcGraphicView view;
  view.imageFromClient = kcXform<2>(kcMatrix<2>::scaling(10, 10), {});
  const std::vector<Element> g = drawn(list, view);
  ASSERT_EQ(g.size(), 3u);
  for (const Element& e : g) {
    EXPECT_EQ(e.attributes.at("display"), "none") << e.name;
    EXPECT_EQ(e.attributes.count("points") + e.attributes.count("d") + e.attributes.count("x"), 0u) << e.name;
  }
}

// Lists added one after another make the document of one list. The background reference, longer
// than the pieces it is written in, keeps its characters whole; a stray byte becomes U+FFFD.
TEST(Svg, writtenInPieces_theDocumentOfOneList) {
  kcGraphicList first, second, both;
  for (kcGraphicList* list : {&first, &both}) add(*list, text(L"1", {0, 0}));
  for (kcGraphicList* list : {&second, &both}) add(*list, new kcGraphicCross(kcCross({1, 1}, kcRadian(0), 4), kcColor()));
  // U+00E9 (2 bytes) and U+20AC (3 bytes) astride the first two 64 KiB boundaries.
  const std::string href = std::string(65535, 'a') + "\xC3\xA9" + std::string(65533, 'b') + "\xE2\x82\xAC" + "\xFF";
  kcGraphicView view;
  view.width = 4;
  view.height = 4;
  std::ostringstream pieces, whole;
  kcSvgWriter writer(pieces, view, href);
  writer.add(first);
  writer.add(second);
  writer.finish();
  kfWriteSvg(whole, both, view, href);
  EXPECT_EQ(pieces.str(), whole.str());
  const std::string document = whole.str();
  const std::size_t at = document.find(" href=\"") + 7;
  EXPECT_EQ(document.substr(at, document.find('"', at) - at), href.substr(0, href.size() - 1) + "\xEF\xBF\xBD");
  EXPECT_THROW(writer.add(first), kcInvariantFailure);
}

TEST(Svg, badView_throwsBadArgumentAndWritesNothing) {
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
