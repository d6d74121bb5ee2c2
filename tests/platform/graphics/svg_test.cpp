// The SVG writer: a well-formed document, one element per graphic, mapped exact coordinates,
// escaping, and the element kept for a graphic that cannot be placed.
#include <graphics/svg.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
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

// XmlReader: a minimal checker of the XML this writer makes. Throws std::runtime_error on
// unbalanced or misnamed tags, unquoted or repeated attributes, '<' in a value, bare or unknown
// entities, and anything after the root element.
class XmlReader {
 public:
  explicit XmlReader(std::string text) : s_(std::move(text)) {}

  Element document() {
    if (s_.compare(0, 5, "<?xml") == 0) pos_ = s_.find("?>") + 2;
    skipSpace();
    Element root = element();
    skipSpace();
    if (pos_ != s_.size()) fail("text after the root element");
    return root;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(what + " at offset " + std::to_string(pos_));
  }
  char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++pos_;
  }
  void skipSpace() {
    while (peek() == ' ' || peek() == '\n' || peek() == '\t' || peek() == '\r') ++pos_;
  }
  std::string name() {
    const std::size_t start = pos_;
    while (std::isalnum(static_cast<unsigned char>(peek())) || peek() == ':' || peek() == '-' || peek() == '_') ++pos_;
    if (pos_ == start) fail("expected a name");
    return s_.substr(start, pos_ - start);
  }
  void entity(std::string& out) {
    const std::size_t end = s_.find(';', pos_);
    if (end == std::string::npos) fail("unterminated entity");
    const std::string ref = s_.substr(pos_ + 1, end - pos_ - 1);
    static const std::map<std::string, char> kNamed = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    if (kNamed.count(ref) != 0) {
      out += kNamed.at(ref);
    } else if (ref.size() > 1 && ref[0] == '#' && ref.find_first_not_of("0123456789", 1) == std::string::npos) {
      out += static_cast<char>(std::stoi(ref.substr(1)));  // only line ends and tabs occur here
    } else {
      fail("unknown entity &" + ref + ";");
    }
    pos_ = end + 1;
  }
  Element element() {
    expect('<');
    Element e{name(), {}, {}, {}};
    for (skipSpace(); peek() != '>' && peek() != '/'; skipSpace()) {
      const std::string key = name();
      expect('=');
      const char quote = peek();
      if (quote != '"' && quote != '\'') fail("unquoted attribute " + key);
      std::string value;
      for (++pos_; peek() != quote; ) {
        if (peek() == '\0' || peek() == '<') fail("bad attribute value");
        if (peek() == '&') entity(value); else value += s_[pos_++];
      }
      ++pos_;
      if (!e.attributes.emplace(key, value).second) fail("repeated attribute " + key);
    }
    if (peek() == '/') {
      ++pos_;
      expect('>');
      return e;
    }
    expect('>');
    while (s_.compare(pos_, 2, "</") != 0) {
      if (peek() == '\0') fail("unclosed <" + e.name + ">");
      if (peek() == '<') e.children.push_back(element());
      else if (peek() == '&') entity(e.text);
      else e.text += s_[pos_++];
    }
    pos_ += 2;
    if (name() != e.name) fail("mismatched end of <" + e.name + ">");
    expect('>');
    return e;
  }

  std::string s_;
  std::size_t pos_ = 0;
};

std::vector<double> numbers(const std::string& list) {
  std::vector<double> result;
  for (const char* p = list.c_str(); *p != '\0';) {
    if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-') {
      char* end = nullptr;
      result.push_back(std::strtod(p, &end));
      p = end;
    } else {
      ++p;
    }
  }
  return result;
}

Element writeAndRead(const kcGraphicList& list, const kcGraphicView& view, const std::string& href = "") {
  std::ostringstream out;
  kfWriteSvg(out, list, view, href);
  try {
    return XmlReader(out.str()).document();
  } catch (const std::runtime_error& e) {
    ADD_FAILURE() << e.what() << "\n" << out.str();
    return {};
  }
}

const Element& group(const Element& svg) {
  static const Element none;
  for (const Element& child : svg.children) {
    if (child.name == "g") return child;
  }
  ADD_FAILURE() << "no <g>";
  return none;
}

template <class G>
void add(kcGraphicList& list, G* g) { list.append(kcGraphicHandle(g), true); }

kcGraphicText* text(std::wstring s, kcVector<2> at) {
  return new kcGraphicText(std::move(s), at, {0, 0}, kcUIFormat(0, 0), kcColor::greenColor(), kcColor::blackColor());
}

TEST(Svg, oneOfEachKind_wellFormedWithOneElementPerGraphicInOrder) {
  const kcColor green = kcColor::greenColor();
  kcGraphicList list;
  add(list, new kcGraphicCross(kcCross({3, 4}, kcRadian(0.3), 7), green));
  add(list, text(L"12", {1, 1}));
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {5, 1}, {2, 7}}, false), green));
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {5, 1}, {2, 7}}, true), green));
  add(list, new kcGraphicSimple<kcAffineRectangle>(kcAffineRectangle({9, 9}, 4, 2, kcRadian(1), kcRadian(0)), green));
  kcGraphicView view;
  view.imageFromClient = kcXform<2>(kcMatrix<2>::scaling(2, 2), {10, 20});
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
  std::vector<std::string> names;
  for (const Element& e : group(svg).children) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"path", "text", "polyline", "polygon", "polygon"}));
  EXPECT_EQ(group(svg).children[0].attributes.at("stroke"), "#00ff00");
}

TEST(Svg, coordinates_mappedToImageAndReadBackExactly) {
  kcGraphicList list;
  const double fine = 123456.78901234567;  // needs 17 digits
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{1, 2}, {3, 4}, {fine, 0.1}}, false), kcColor()));
  add(list, new kcGraphicCross(kcCross({1, 1}, kcRadian(0), 4), kcColor()));
  add(list, text(L"x", {-1, 0.5}));
  kcGraphicView view;
  view.imageFromClient = kcXform<2>(kcMatrix<2>::scaling(2, 3), {10, 20});
  const Element svg = writeAndRead(list, view);
  const Element& g = group(svg);
  ASSERT_EQ(g.children.size(), 3u);
  EXPECT_EQ(numbers(g.children[0].attributes.at("points")),
            (std::vector<double>{12, 26, 16, 32, 2 * fine + 10, 0.1 * 3 + 20}));
  EXPECT_EQ(numbers(g.children[1].attributes.at("d")), (std::vector<double>{8, 23, 16, 23, 12, 17, 12, 29}));
  EXPECT_EQ(numbers(g.children[2].attributes.at("x") + " " + g.children[2].attributes.at("y")),
            (std::vector<double>{8, 21.5}));
}

TEST(Svg, text_escapedAndUtf8) {
  struct Case {
    std::wstring text;
    std::string expected;
  };
  const Case cases[] = {
      {L"<&>", "<&>"},
      {L"a\"b'c", "a\"b'c"},
      {L"\u00e9\u20ac\U0001F600", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {std::wstring(L"a") + wchar_t(1) + L"b", "a\xEF\xBF\xBD" "b"},  // not allowed in XML
  };
  for (const Case& c : cases) {
    kcGraphicList list;
    add(list, text(c.text, {0, 0}));
    const Element svg = writeAndRead(list, kcGraphicView());
    const Element& g = group(svg);
    ASSERT_EQ(g.children.size(), 1u);
    EXPECT_EQ(g.children[0].text, c.expected);
  }
}

TEST(Svg, nonFinitePoints_elementKeptHiddenWithoutGeometry) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  kcGraphicList list;
  add(list, new kcGraphicSimple<kcPolyline>(kcPolyline({{0, 0}, {nan, 1}}, true), kcColor()));
  add(list, new kcGraphicCross(kcCross({1e308, 0}, kcRadian(0), 7), kcColor()));  // overflows when mapped
  add(list, text(L"1", {0, nan}));
  kcGraphicView view;
  view.imageFromClient = kcXform<2>(kcMatrix<2>::scaling(10, 10), {});
  const Element svg = writeAndRead(list, view);
  const Element& g = group(svg);
  ASSERT_EQ(g.children.size(), 3u);
  for (const Element& e : g.children) {
    EXPECT_EQ(e.attributes.at("display"), "none") << e.name;
    EXPECT_EQ(e.attributes.count("points") + e.attributes.count("d") + e.attributes.count("x"), 0u) << e.name;
  }
}

TEST(Svg, badView_throwsBadArgumentAndWritesNothing) {
  kcGraphicView view;
  view.zoom = 0;
  std::ostringstream out;
  EXPECT_THROW(kfWriteSvg(out, kcGraphicList(), view), kcBadArgument);
  view.zoom = 1;
  view.width = -1;
  EXPECT_THROW(kfWriteSvg(out, kcGraphicList(), view), kcBadArgument);
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
