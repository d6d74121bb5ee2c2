// A small strict JSON reader for the tests, so that output is checked by meaning, not by text.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testjson {

struct Value {
  enum Kind { eNull, eBool, eNumber, eString, eArray, eObject } kind = eNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Value> items;                               // array elements
  std::vector<std::pair<std::string, Value>> members;     // object members in order

  bool has(const std::string& key) const { return find(key) != nullptr; }
  const Value& operator[](const std::string& key) const {
    const Value* value = find(key);
    if (!value) throw std::out_of_range("no member " + key);
    return *value;
  }
  const Value& operator[](std::size_t index) const { return items.at(index); }
  const Value* find(const std::string& key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return &value;
    }
    return nullptr;
  }
};

class Reader {
 public:
  explicit Reader(const std::string& text) : s_(text) {}

  // The one value of the whole text; throws std::runtime_error on any syntax error.
  Value document() {
    Value value = parse();
    skip();
    if (i_ != s_.size()) fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) { throw std::runtime_error("JSON: " + what + " at " + std::to_string(i_)); }
  void skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  bool take(char c) {
    skip();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  void expect(char c) {
    if (!take(c)) fail(std::string("expected ") + c);
  }
  bool word(const char* w) {
    const std::string text(w);
    if (s_.compare(i_, text.size(), text) != 0) return false;
    i_ += text.size();
    return true;
  }

  Value parse() {
    skip();
    Value v;
    if (i_ >= s_.size()) fail("unexpected end");
    const char c = s_[i_];
    if (c == '{') {
      v.kind = Value::eObject;
      ++i_;
      if (take('}')) return v;
      do {
        skip();
        std::string key = string();
        expect(':');
        v.members.emplace_back(std::move(key), parse());
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      v.kind = Value::eArray;
      ++i_;
      if (take(']')) return v;
      do v.items.push_back(parse());
      while (take(','));
      expect(']');
    } else if (c == '"') {
      v.kind = Value::eString;
      v.text = string();
    } else if (word("null")) {
      v.kind = Value::eNull;
    } else if (word("true") || word("false")) {
      v.kind = Value::eBool;
      v.boolean = s_[i_ - 1] == 'e' && s_[i_ - 2] == 'u';
    } else {
      v.kind = Value::eNumber;
      const std::size_t start = i_;
      while (i_ < s_.size() && std::string("+-0123456789.eE").find(s_[i_]) != std::string::npos) ++i_;
      const std::string token = s_.substr(start, i_ - start);
      if (token.empty() || token[0] == '+' || token.find_first_of("0123456789") == std::string::npos) fail("bad value");
      char* end = nullptr;
      v.number = std::strtod(token.c_str(), &end);
      if (*end != '\0') fail("bad number");
    }
    return v;
  }

  std::string string() {
    if (i_ >= s_.size() || s_[i_] != '"') fail("expected string");
    ++i_;
    std::string out;
    while (true) {
      if (i_ >= s_.size()) fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') return out;
      if (c < 0x20) fail("raw control character");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) fail("unterminated escape");
      const char e = s_[i_++];
      const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (simple.find(e) != std::string::npos) {
        out += meaning[simple.find(e)];
      } else if (e == 'u' && i_ + 4 <= s_.size()) {
        const unsigned long code = std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
        i_ += 4;
        if (code >= 0x800) fail("test reader: only \\u escapes below 0x800 are expected");
        if (code < 0x80) out += static_cast<char>(code);
        else out += static_cast<char>(0xC0 | (code >> 6)), out += static_cast<char>(0x80 | (code & 0x3F));
      } else {
        fail("bad escape");
      }
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

inline Value parse(const std::string& text) { return Reader(text).document(); }

}  // namespace testjson
