// A strict little JSON reader for tests that read the program's reports
// back: anything that is not well-formed JSON makes Parse fail, a string
// that is not UTF-8 included (as the strict readers of other programs do).
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct JsonValue {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool b = false;
  double n = 0;
  std::string s;
  std::vector<JsonValue> a;
  std::map<std::string, JsonValue> o;

  /// Member `key` of an object; a null value when there is none.
  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue none;
    auto it = o.find(key);
    return it == o.end() ? none : it->second;
  }
  bool Has(const std::string& key) const { return o.count(key) != 0; }
  long Int() const { return static_cast<long>(n); }

  /// The value `text` holds, nothing when it is not exactly one JSON value.
  static std::optional<JsonValue> Parse(const std::string& text) {
    size_t at = 0;
    JsonValue v;
    if (!Read(text, at, v)) return std::nullopt;
    Space(text, at);
    if (at != text.size()) return std::nullopt;
    return v;
  }

 private:
  static void Space(const std::string& t, size_t& at) {
    while (at < t.size() && (t[at] == ' ' || t[at] == '\n' || t[at] == '\r' || t[at] == '\t')) ++at;
  }
  static bool Literal(const std::string& t, size_t& at, const char* word) {
    const std::string w(word);
    if (t.compare(at, w.size(), w) != 0) return false;
    at += w.size();
    return true;
  }
  /// Bytes of the well-formed UTF-8 sequence (RFC 3629: shortest form, no
  /// surrogates, up to U+10FFFF) starting at `at`; 0 when there is none.
  static size_t Utf8Length(const std::string& t, size_t at) {
    const auto byte = [&](size_t k) { return at + k < t.size() ? static_cast<unsigned char>(t[at + k]) : 0u; };
    const unsigned c = byte(0);
    const size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    // The second byte's range narrows after E0, ED, F0 and F4.
    const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (n == 0 || byte(1) < low || byte(1) > high) return 0;
    for (size_t k = 2; k < n; ++k)
      if ((byte(k) & 0xC0) != 0x80) return 0;
    return n;
  }
  static bool Str(const std::string& t, size_t& at, std::string& out) {
    if (at >= t.size() || t[at] != '"') return false;
    for (++at; at < t.size(); ++at) {
      const unsigned char c = static_cast<unsigned char>(t[at]);
      if (c == '"') {
        ++at;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        const size_t n = Utf8Length(t, at);
        if (n == 0) return false;
        out.append(t, at, n);
        at += n - 1;
        continue;
      }
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (++at >= t.size()) return false;
      switch (t[at]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at + 4 >= t.size()) return false;
          const long code = std::strtol(t.substr(at + 1, 4).c_str(), nullptr, 16);
          if (code >= 0x80) return false;  // the reports escape control characters only
          out += static_cast<char>(code);
          at += 4;
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  static bool Read(const std::string& t, size_t& at, JsonValue& v) {
    Space(t, at);
    if (at >= t.size()) return false;
    const char c = t[at];
    if (c == 'n') return Literal(t, at, "null");
    if (c == 't' || c == 'f') {
      v.kind = Bool;
      v.b = c == 't';
      return Literal(t, at, v.b ? "true" : "false");
    }
    if (c == '"') {
      v.kind = String;
      return Str(t, at, v.s);
    }
    if (c == '[' || c == '{') {
      const bool object = c == '{';
      v.kind = object ? Object : Array;
      ++at;
      Space(t, at);
      if (at < t.size() && t[at] == (object ? '}' : ']')) return ++at, true;
      for (;;) {
        JsonValue item;
        std::string key;
        if (object) {
          Space(t, at);
          if (!Str(t, at, key)) return false;
          Space(t, at);
          if (at >= t.size() || t[at++] != ':') return false;
        }
        if (!Read(t, at, item)) return false;
        if (object)
          v.o[key] = std::move(item);
        else
          v.a.push_back(std::move(item));
        Space(t, at);
        if (at >= t.size()) return false;
        if (t[at] == ',') {
          ++at;
          continue;
        }
        if (t[at++] != (object ? '}' : ']')) return false;
        return true;
      }
    }
    v.kind = Number;
    const char* start = t.c_str() + at;
    char* end = nullptr;
    v.n = std::strtod(start, &end);
    if (end == start) return false;
    at += static_cast<size_t>(end - start);
    return true;
  }
};
