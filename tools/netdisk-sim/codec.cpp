#include "codec.h"

#include <cstdlib>

namespace pansift::sim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Reads one UTF-8 character at `i`; U+FFFD (one byte consumed) when malformed.
std::uint32_t NextCodePoint(std::string_view s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  int extra = b < 0x80             ? 0
              : (b & 0xE0) == 0xC0 ? 1
              : (b & 0xF0) == 0xE0 ? 2
              : (b & 0xF8) == 0xF0 ? 3
                                   : -1;
  if (extra == 0) {
    ++i;
    return b;
  }
  if (extra < 0 || i + extra >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  std::uint32_t cp = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += extra + 1;
  return cp;
}

// Reads one well-formed UTF-8 character at `i` (shortest form, no surrogate, at
// most U+10FFFF); false when the bytes there are not one.
bool ValidUtf8Char(std::string_view s, size_t& i) {
  size_t at = i;
  std::uint32_t cp = NextCodePoint(s, i);
  static const std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  size_t length = i - at;
  if (length < 1 || length > 4) return false;
  if (cp == 0xFFFD && s.substr(at, 3) != "\xEF\xBF\xBD") return false;
  return cp >= kLeast[length - 1] && !(cp >= 0xD800 && cp < 0xE000) && cp <= 0x10FFFF;
}

void AppendEscape(std::string& out, std::uint32_t unit) {
  static const char* hex = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += hex[(unit >> shift) & 0xF];
}

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : s_(text) {}

  bool parse(JsonValue& out, std::string* error) {
    bool ok = value(out, 0);
    skipSpace();
    if (ok && pos_ != s_.size()) ok = fail("trailing text");
    if (!ok && error) *error = error_ + " at " + std::to_string(pos_);
    return ok;
  }

 private:
  bool fail(const char* what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  void skipSpace() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }
  bool literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return fail("bad literal");
    pos_ += word.size();
    return true;
  }
  bool value(JsonValue& out, int depth) {
    if (depth > 200) return fail("too deep");
    skipSpace();
    if (pos_ >= s_.size()) return fail("unexpected end");
    char c = s_[pos_];
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      out.type = JsonValue::Type::String;
      return string(out.text);
    }
    if (c == 't' || c == 'f') {
      out.type = JsonValue::Type::Bool;
      out.text = c == 't' ? "true" : "false";
      return literal(out.text);
    }
    if (c == 'n') {
      out.type = JsonValue::Type::Null;
      return literal("null");
    }
    size_t start = pos_;
    if (!number()) return false;
    out.type = JsonValue::Type::Number;
    out.text = std::string(s_.substr(start, pos_ - start));
    return true;
  }
  bool digits() {
    size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }
  // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
  bool number() {
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return fail("unexpected character");
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits()) return fail("bad number");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digits()) return fail("bad number");
    }
    return true;
  }
  bool object(JsonValue& out, int depth) {
    out.type = JsonValue::Type::Object;
    ++pos_;
    skipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      skipSpace();
      std::string key;
      if (pos_ >= s_.size() || s_[pos_] != '"' || !string(key)) return fail("expected key");
      skipSpace();
      if (pos_ >= s_.size() || s_[pos_] != ':') return fail("expected colon");
      ++pos_;
      JsonValue member;
      if (!value(member, depth + 1)) return false;
      out.members.emplace_back(std::move(key), std::move(member));
      skipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return fail("expected , or }");
    }
  }
  bool array(JsonValue& out, int depth) {
    out.type = JsonValue::Type::Array;
    ++pos_;
    skipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!value(item, depth + 1)) return false;
      out.items.push_back(std::move(item));
      skipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return fail("expected , or ]");
    }
  }
  bool hex4(std::uint32_t& unit) {
    if (pos_ + 4 > s_.size()) return fail("short escape");
    unit = 0;
    for (int k = 0; k < 4; ++k) {
      int d = HexDigit(s_[pos_ + k]);
      if (d < 0) return fail("bad escape");
      unit = unit * 16 + d;
    }
    pos_ += 4;
    return true;
  }
  // Strings as a strict parser reads them: a control character must be escaped,
  // only the escapes JSON defines are known, a surrogate comes in pairs and the
  // bytes are UTF-8. A client that writes a name into a body by hand breaks one of
  // these with the names that matter.
  bool string(std::string& out) {
    ++pos_;  // opening quote
    while (pos_ < s_.size()) {
      auto c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return fail("control character in string");
      if (c >= 0x80) {
        size_t at = pos_;
        if (!ValidUtf8Char(s_, pos_)) return fail("invalid UTF-8 in string");
        out.append(s_.substr(at, pos_ - at));
        continue;
      }
      ++pos_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= s_.size()) break;
      char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t unit = 0;
          if (!hex4(unit)) return false;
          if (unit >= 0xDC00 && unit < 0xE000) return fail("lone surrogate");
          if (unit >= 0xD800 && unit < 0xDC00) {
            std::uint32_t low = 0;
            if (s_.substr(pos_, 2) != "\\u") return fail("lone surrogate");
            pos_ += 2;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low >= 0xE000) return fail("lone surrogate");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, unit);
          break;
        }
        default:
          return fail("bad escape");
      }
    }
    return fail("unterminated string");
  }

  std::string_view s_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::string FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

bool IsUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    if (!ValidUtf8Char(bytes, i)) return false;
  }
  return true;
}

QueryItems ParseQuery(std::string_view raw) {
  QueryItems items;
  size_t start = 0;
  while (start <= raw.size() && !raw.empty()) {
    size_t end = raw.find('&', start);
    if (end == std::string_view::npos) end = raw.size();
    std::string_view piece = raw.substr(start, end - start);
    if (!piece.empty()) {
      size_t eq = piece.find('=');
      if (eq == std::string_view::npos) {
        items.emplace_back(FormDecode(piece), std::string());
      } else {
        items.emplace_back(FormDecode(piece.substr(0, eq)), FormDecode(piece.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
  return items;
}

std::string QueryValue(const QueryItems& items, std::string_view key, bool* found) {
  for (const auto& [k, v] : items) {
    if (k == key) {
      if (found) *found = true;
      return v;
    }
  }
  if (found) *found = false;
  return {};
}

std::string PercentEncode(std::string_view bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

std::string JsonEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 8);
  size_t i = 0;
  while (i < utf8.size()) {
    std::uint32_t cp = NextCodePoint(utf8, i);
    switch (cp) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '/':
        out += "\\/";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (cp >= 0x20 && cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      AppendEscape(out, cp);
    } else {
      cp -= 0x10000;
      AppendEscape(out, 0xD800 + (cp >> 10));
      AppendEscape(out, 0xDC00 + (cp & 0x3FF));
    }
  }
  return out;
}

std::string JsonString(std::string_view utf8) {
  return "\"" + JsonEscape(utf8) + "\"";
}

const JsonValue* JsonValue::get(std::string_view key) const {
  for (const auto& [k, v] : members) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string JsonValue::string(std::string_view key, std::string fallback) const {
  const JsonValue* v = get(key);
  return v && v->type != Type::Null && v->type != Type::Array && v->type != Type::Object ? v->text
                                                                                         : fallback;
}

std::int64_t JsonValue::integer(std::string_view key, std::int64_t fallback) const {
  const JsonValue* v = get(key);
  if (!v || (v->type != Type::Number && v->type != Type::String) || v->text.empty())
    return fallback;
  return std::strtoll(v->text.c_str(), nullptr, 10);
}

double JsonValue::number(std::string_view key, double fallback) const {
  const JsonValue* v = get(key);
  if (!v || (v->type != Type::Number && v->type != Type::String) || v->text.empty())
    return fallback;
  return std::strtod(v->text.c_str(), nullptr);
}

bool JsonValue::boolean(std::string_view key, bool fallback) const {
  const JsonValue* v = get(key);
  if (!v) return fallback;
  if (v->type == Type::Bool) return v->text == "true";
  if (v->type == Type::Number) return v->text != "0";
  return fallback;
}

bool ParseJson(std::string_view text, JsonValue& out, std::string* error) {
  out = JsonValue();
  return JsonReader(text).parse(out, error);
}

std::string Base64(std::string_view bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                      (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                      static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest == 1) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    std::uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                      (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string ComputeSign(std::string_view key, std::string_view data) {
  if (key.empty() || data.empty()) return {};
  unsigned char s[256];
  for (int q = 0; q < 256; ++q) s[q] = static_cast<unsigned char>(q);
  unsigned j = 0;
  for (int q = 0; q < 256; ++q) {
    j = (j + s[q] + static_cast<unsigned char>(key[q % key.size()])) & 0xFF;
    std::swap(s[q], s[j]);
  }
  std::string out;
  unsigned i = 0;
  j = 0;
  for (char b : data) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    out += static_cast<char>(static_cast<unsigned char>(b) ^ s[(s[i] + s[j]) & 0xFF]);
  }
  return Base64(out);
}

}  // namespace pansift::sim
