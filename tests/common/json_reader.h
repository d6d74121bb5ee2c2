// A small strict JSON reader for the tests, so that output is checked by meaning, not by text.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace testjson {

struct Value {
  enum Kind { eNull, eBool, eNumber, eString, eArray, eObject } kind = eNull;
  double number = 0;
  std::string text;
  std::vector<Value> items;        // array elements
  std::vector<std::string> names;  // object members in order: names[i] with items[i]

  bool has(const std::string& key) const {
    return std::find(names.begin(), names.end(), key) != names.end();
  }
  const Value& operator[](const std::string& key) const {
    const auto it = std::find(names.begin(), names.end(), key);
    if (it == names.end()) throw std::out_of_range("no member " + key);
    return items[static_cast<std::size_t>(it - names.begin())];
  }
  const Value& operator[](std::size_t index) const { return items.at(index); }
};

// parse(text): the one value of text; throws std::runtime_error on any syntax error (NaN tokens,
// raw control characters in strings, trailing text included). \u escapes above U+07FF are refused.
struct Reader {
  const std::string& s_;
  std::size_t i_ = 0;

  [[noreturn]] void fail(const std::string& what) { throw std::runtime_error("JSON: " + what); }
  void skip() { i_ = std::min(s_.size(), s_.find_first_not_of(" \t\r\n", i_)); }
  bool take(char c) { return skip(), i_ < s_.size() && s_[i_] == c ? (++i_, true) : false; }
  bool word(const std::string& w) { return s_.compare(i_, w.size(), w) == 0 ? (i_ += w.size(), true) : false; }

  Value parse() {
    Value v;
    if (take('{')) {
      v.kind = Value::eObject;
      if (take('}')) return v;
      do {
        skip();
        v.names.push_back(string());
        if (!take(':')) fail("expected :");
        v.items.push_back(parse());
      } while (take(','));
      if (!take('}')) fail("expected }");
    } else if (take('[')) {
      v.kind = Value::eArray;
      if (take(']')) return v;
      do v.items.push_back(parse());
      while (take(','));
      if (!take(']')) fail("expected ]");
    } else if (i_ < s_.size() && s_[i_] == '"') {
      v.kind = Value::eString, v.text = string();
    } else if (word("null")) {  // the kind is already eNull
    } else if (word("true") || word("false")) {
      v.kind = Value::eBool;
    } else {
      const std::size_t end = std::min(s_.size(), s_.find_first_not_of("+-0123456789.eE", i_));
      const std::string token = s_.substr(i_, end - i_);
      char* stop = nullptr;
      v.kind = Value::eNumber, v.number = std::strtod(token.c_str(), &stop);
      if (token.empty() || token[0] == '+' || *stop != '\0') fail("bad value");
      i_ = end;
    }
    return v;
  }

  std::string string() {
    std::string out;
    if (!word("\"")) fail("expected string");
    for (char c; (c = i_ < s_.size() ? s_[i_++] : '\0') != '"';) {
      if (c == '\0' || static_cast<unsigned char>(c) < 0x20) fail("bad character in string");
      if (c != '\\') {
        out += c;
      } else if (const std::string plain = "\"\\/bfnrt"; plain.find(s_.at(i_)) != std::string::npos) {
        out += "\"\\/\b\f\n\r\t"[plain.find(s_[i_++])];
      } else if (s_[i_++] == 'u') {
        const unsigned long code = std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
        if (i_ += 4, code >= 0x800) fail("unexpected \\u escape");
        if (code < 0x80) out += static_cast<char>(code);
        else out += static_cast<char>(0xC0 | (code >> 6)), out += static_cast<char>(0x80 | (code & 0x3F));
      } else {
        fail("bad escape");
      }
    }
    return out;
  }
};

inline Value parse(const std::string& text) {
  Reader reader{text};
  Value value = reader.parse();
  if (reader.skip(), reader.i_ != text.size()) reader.fail("text after the value");
  return value;
}

}  // namespace testjson
