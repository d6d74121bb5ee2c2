// A small strict JSON reader for the tests, so that output is checked by meaning, not by text.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace testjson {

struct Value {
  enum Kind { eNull, eNumber, eString, eArray, eObject } kind = eNull;
  double number = 0;
  std::string text;
  std::vector<Value> items;        // array elements, or the members' values
  std::vector<std::string> names;  // object members in order: names[i] with items[i]

  bool has(const std::string& key) const { return std::find(names.begin(), names.end(), key) != names.end(); }
  const Value& operator[](const std::string& key) const {
    const auto it = std::find(names.begin(), names.end(), key);
    if (it == names.end()) throw std::out_of_range("no member " + key);
    return items[static_cast<std::size_t>(it - names.begin())];
  }
  const Value& operator[](std::size_t index) const { return items.at(index); }
};

// Reader: the parser behind parse(); throws std::runtime_error on any syntax error (NaN tokens,
// raw control characters in strings, trailing text included). \u escapes from U+0080 on are
// refused: the writers escape control characters only.
struct Reader {
  const std::string& s;
  std::size_t i = 0;

  [[noreturn]] void fail(const std::string& what) { throw std::runtime_error("JSON: " + what); }
  void skip() { i = std::min(s.size(), s.find_first_not_of(" \t\r\n", i)); }
  bool take(char c) { return skip(), i < s.size() && s[i] == c ? (++i, true) : false; }
  bool word(const std::string& w) { return s.compare(i, w.size(), w) == 0 ? (i += w.size(), true) : false; }
  // Items separated by commas, up to close.
  template <class Item>
  void list(char close, Item item) {
    if (take(close)) return;
    do item();
    while (take(','));
    if (!take(close)) fail(std::string("expected ") + close);
  }

  Value parse() {
    Value v;
    if (take('{')) {
      v.kind = Value::eObject;
      list('}', [&] {
        skip();
        v.names.push_back(string());
        if (!take(':')) fail("expected :");
        v.items.push_back(parse());
      });
    } else if (take('[')) {
      v.kind = Value::eArray;
      list(']', [&] { v.items.push_back(parse()); });
    } else if (i < s.size() && s[i] == '"') {
      v.kind = Value::eString, v.text = string();
    } else if (!word("null")) {  // the writers write no booleans
      const std::size_t end = std::min(s.size(), s.find_first_not_of("+-0123456789.eE", i));
      const std::string token = s.substr(i, end - i);
      char* stop = nullptr;
      v.kind = Value::eNumber, v.number = std::strtod(token.c_str(), &stop);
      if (token.empty() || token[0] == '+' || *stop != '\0') fail("bad value");
      i = end;
    }
    return v;
  }

  std::string string() {
    std::string out;
    if (!word("\"")) fail("expected string");
    for (char c; (c = i < s.size() ? s[i++] : '\0') != '"';) {
      if (c == '\0' || static_cast<unsigned char>(c) < 0x20) fail("bad character in string");
      if (c != '\\') {
        out += c;
      } else if (const std::string plain = "\"\\/bfnrt"; plain.find(s.at(i)) != std::string::npos) {
        out += "\"\\/\b\f\n\r\t"[plain.find(s[i++])];
      } else if (unsigned long code = 0;
                 s[i++] != 'u' || (code = std::strtoul(s.substr(i, 4).c_str(), nullptr, 16)) >= 0x80) {
        fail("bad escape");
      } else {
        out += static_cast<char>(code), i += 4;
      }
    }
    return out;
  }
};

inline Value parse(const std::string& text) {
  Reader reader{text};
  Value value = reader.parse();
  if (reader.skip(), reader.i != text.size()) reader.fail("text after the value");
  return value;
}

}  // namespace testjson
