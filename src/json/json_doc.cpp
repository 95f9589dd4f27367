#include "json/json_doc.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "util/codepage.h"

// Our own small parser and writer rather than a general JSON library: number
// literals must come back exactly as written, apostrophe-quoted strings must parse,
// backslashes of SetText pass through as escapes, and the writer follows
// JSON.stringify's escaping table and converts to GBK with \u escapes for what GBK
// cannot hold (UnicodeToEscapedLocal). None of that is what general libraries do.
//
// Layout: every value is a Node in one vector; containers link their children
// (first/next), arrays get an index vector the first time they are read by index,
// and large objects a name index the first time a member is looked up, so that
// reading every entry of a reply costs the reply's size, however many members
// stand beside the list.
// String and number texts are spans of one UTF-16 buffer that starts as the parsed
// input; texts added by the writing operations are appended to that buffer.

namespace pansift {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr int kMaxDepth = 512;
// An index this far past the end of an array is a mistake, not a wish for a
// million nulls.
constexpr std::size_t kMaxGap = 100000;
// Objects with more members than this get a name index when first searched; the
// entries of a listing (a dozen members) are searched in place.
constexpr std::uint32_t kIndexedMembers = 16;

enum class Kind : std::uint8_t { Null, False, True, Number, String, Array, Object };

enum Flag : std::uint8_t {
  kTextEscaped = 1,     // the text span holds JSON escapes still to decode
  kNameEscaped = 2,     // the name span holds JSON escapes still to decode
  kRawBackslashes = 4,  // a string from SetText: its backslashes are written as escapes
  kSetNumber = 8,       // a number from SetNumber: `number` holds its value
};

struct Node {
  std::uint32_t nameBegin = 0, nameLen = 0;  // member name, when inside an object
  std::uint32_t textBegin = 0, textLen = 0;  // string characters or number literal
  std::uint32_t first = kNone, last = kNone, next = kNone;
  std::uint32_t count = 0;
  std::uint32_t indexSlot = kNone;   // into Impl::indexes for arrays read by index
  std::uint32_t memberSlot = kNone;  // into Impl::memberIndexes for large objects
  double number = 0;
  Kind kind = Kind::Null;
  std::uint8_t flags = 0;
};

struct Step {
  bool isIndex = false;
  std::size_t index = 0;
  std::u16string name;
};

bool IsHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return c - u'A' + 10;
}

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Local text to Unicode; replies are ASCII, so skip the converter for them.
std::u16string LocalToU16(std::string_view local) {
  local = UpToNul(local);
  if (IsAscii(local)) return std::u16string(local.begin(), local.end());
  return LocalToUnicode(local);
}

void AppendUnitEscape(std::u16string& out, char16_t unit) {
  static const char16_t kHex[] = u"0123456789abcdef";
  out += u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// The characters JSON.stringify leaves as they are but the writer escapes anyway:
// invisible and line-breaking characters that break naive readers of the file.
bool NeedsUnitEscape(char16_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || (c >= 0x600 && c <= 0x604) ||
         c == 0x70F || c == 0x17B4 || c == 0x17B5 || (c >= 0x200C && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || c >= 0xFFF0;
}

// A surrogate that is not half of a pair has no UTF-8 form: it is written as an
// escape, as a well-formed JSON.stringify does.
bool LoneSurrogateAt(std::u16string_view s, std::size_t i) {
  const char16_t c = s[i];
  if (c >= 0xD800 && c < 0xDC00)
    return i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] >= 0xE000;
  if (c >= 0xDC00 && c < 0xE000) return i == 0 || s[i - 1] < 0xD800 || s[i - 1] >= 0xDC00;
  return false;
}

// ECMAScript Number::toString: the shortest digits that read back as the same
// double, plain up to 21 integer digits, exponent form beyond.
std::string FormatNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (value == 0) return "0";
  if (value < 0) return "-" + FormatNumber(-value);
  if (std::isinf(value)) return "Infinity";
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, result.ptr - buf);
  std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
  int k = static_cast<int>(digits.size());
  int n = exponent + 1;
  if (k <= n && n <= 21) return digits + std::string(n - k, '0');
  if (0 < n && n <= 21) return digits.substr(0, n) + "." + digits.substr(n);
  if (-6 < n && n <= 0) return "0." + std::string(-n, '0') + digits;
  std::string out = digits.substr(0, 1);
  if (k > 1) out += "." + digits.substr(1);
  out += (n - 1 >= 0) ? "e+" : "e-";
  out += std::to_string(std::abs(n - 1));
  return out;
}

// The value of a number literal, independent of the process locale.
double LiteralValue(std::u16string_view literal) {
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  std::string ascii(literal.begin(), literal.end());
  return strtod_l(ascii.c_str(), nullptr, cLocale);
}

// Parses a path into steps; false for a malformed path, which leads nowhere.
bool ParsePath(std::string_view localPath, std::vector<Step>& steps) {
  std::u16string p = LocalToU16(localPath);
  std::size_t n = p.size();
  std::size_t i = 0;
  if (n == 0) return true;
  bool afterStop = false;
  while (true) {
    Step step;
    if (!afterStop && p[i] == u'[') {
      ++i;
      std::size_t start = i;
      while (i < n && p[i] >= u'0' && p[i] <= u'9') {
        if (i - start >= 9) return false;  // beyond any real array
        step.index = step.index * 10 + (p[i] - u'0');
        ++i;
      }
      if (i == start || i == n || p[i] != u']') return false;
      ++i;
      step.isIndex = true;
    } else {
      while (i < n && p[i] != u'.' && p[i] != u'[' && p[i] != u']') {
        if (p[i] == u'\\') {
          if (i + 1 == n) return false;
          ++i;
        }
        step.name += p[i++];
      }
      if (step.name.empty()) return false;
    }
    steps.push_back(std::move(step));
    afterStop = false;
    if (i == n) return true;
    if (p[i] == u'.') {
      if (++i == n) return false;
      afterStop = true;
    } else if (p[i] != u'[') {
      return false;
    }
  }
}

}  // namespace

struct JsonDoc::Impl {
  std::u16string text;
  std::vector<Node> nodes;
  std::vector<std::vector<std::uint32_t>> indexes;
  // Member name -> the first member of that name.
  std::vector<std::unordered_map<std::u16string, std::uint32_t>> memberIndexes;
  std::uint32_t root = kNone;

  // ---- parsing ----

  struct Parser {
    Impl& doc;
    std::size_t pos;
    std::size_t end;
    int depth = 0;

    char16_t peek() const { return pos < end ? doc.text[pos] : 0; }

    void skipSpace() {
      while (pos < end) {
        char16_t c = doc.text[pos];
        if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n') break;
        ++pos;
      }
    }

    std::uint32_t newNode(Kind kind) {
      doc.nodes.emplace_back();
      doc.nodes.back().kind = kind;
      return static_cast<std::uint32_t>(doc.nodes.size() - 1);
    }

    // A string between double quotes or apostrophes; the span excludes the quotes.
    bool scanString(std::uint32_t& begin, std::uint32_t& len, bool& escaped) {
      char16_t quote = peek();
      if (quote != u'"' && quote != u'\'') return false;
      ++pos;
      begin = static_cast<std::uint32_t>(pos);
      escaped = false;
      while (pos < end) {
        char16_t c = doc.text[pos];
        if (c == quote) {
          len = static_cast<std::uint32_t>(pos - begin);
          ++pos;
          return true;
        }
        if (c == u'\\') {
          escaped = true;
          if (pos + 1 >= end) return false;
          char16_t e = doc.text[pos + 1];
          if (e == u'u') {
            if (pos + 6 > end) return false;
            for (std::size_t k = pos + 2; k < pos + 6; ++k) {
              if (!IsHex(doc.text[k])) return false;
            }
            pos += 6;
            continue;
          }
          if (std::u16string_view(u"\"\\/bfnrt'").find(e) == std::u16string_view::npos)
            return false;
          pos += 2;
          continue;
        }
        // Raw control characters are tolerated: one odd file name must not cost
        // a whole listing page.
        ++pos;
      }
      return false;
    }

    bool scanDigits() {
      std::size_t start = pos;
      while (pos < end && doc.text[pos] >= u'0' && doc.text[pos] <= u'9') ++pos;
      return pos > start;
    }

    std::uint32_t parseNumber() {
      std::size_t start = pos;
      if (peek() == u'-') ++pos;
      if (peek() == u'0') {
        ++pos;
      } else if (!scanDigits()) {
        return kNone;
      }
      if (peek() == u'.') {
        ++pos;
        if (!scanDigits()) return kNone;
      }
      if (peek() == u'e' || peek() == u'E') {
        ++pos;
        if (peek() == u'+' || peek() == u'-') ++pos;
        if (!scanDigits()) return kNone;
      }
      std::uint32_t node = newNode(Kind::Number);
      doc.nodes[node].textBegin = static_cast<std::uint32_t>(start);
      doc.nodes[node].textLen = static_cast<std::uint32_t>(pos - start);
      return node;
    }

    std::uint32_t parseWord(std::u16string_view word, Kind kind) {
      if (doc.text.compare(pos, word.size(), word) != 0 || pos + word.size() > end) return kNone;
      pos += word.size();
      return newNode(kind);
    }

    std::uint32_t parseValue() {
      switch (peek()) {
        case u'{':
          return parseContainer(Kind::Object, u'}');
        case u'[':
          return parseContainer(Kind::Array, u']');
        case u'"':
        case u'\'': {
          std::uint32_t begin, len;
          bool escaped;
          if (!scanString(begin, len, escaped)) return kNone;
          std::uint32_t node = newNode(Kind::String);
          doc.nodes[node].textBegin = begin;
          doc.nodes[node].textLen = len;
          if (escaped) doc.nodes[node].flags |= kTextEscaped;
          return node;
        }
        case u't':
          return parseWord(u"true", Kind::True);
        case u'f':
          return parseWord(u"false", Kind::False);
        case u'n':
          return parseWord(u"null", Kind::Null);
        default:
          return parseNumber();
      }
    }

    std::uint32_t parseContainer(Kind kind, char16_t close) {
      if (++depth > kMaxDepth) return kNone;
      ++pos;
      std::uint32_t container = newNode(kind);
      skipSpace();
      if (peek() == close) {
        ++pos;
        --depth;
        return container;
      }
      while (true) {
        std::uint32_t nameBegin = 0, nameLen = 0;
        bool nameEscaped = false;
        if (kind == Kind::Object) {
          if (!scanString(nameBegin, nameLen, nameEscaped)) return kNone;
          skipSpace();
          if (peek() != u':') return kNone;
          ++pos;
          skipSpace();
        }
        std::uint32_t child = parseValue();
        if (child == kNone) return kNone;
        Node& c = doc.nodes[child];
        c.nameBegin = nameBegin;
        c.nameLen = nameLen;
        if (nameEscaped) c.flags |= kNameEscaped;
        doc.link(container, child);
        skipSpace();
        if (peek() == u',') {
          ++pos;
          skipSpace();
          continue;
        }
        if (peek() != close) return kNone;
        ++pos;
        --depth;
        return container;
      }
    }
  };

  // Parses text[begin, end) as one value; on failure the nodes it made are dropped.
  std::uint32_t parseAt(std::size_t begin) {
    if (text.size() >= kNone) return kNone;
    std::size_t nodeMark = nodes.size();
    Parser parser{*this, begin, text.size()};
    if (parser.peek() == 0xFEFF) ++parser.pos;  // a byte-order mark left by an editor
    parser.skipSpace();
    std::uint32_t value = parser.parseValue();
    parser.skipSpace();
    if (value == kNone || parser.pos != parser.end) {
      nodes.resize(nodeMark);
      return kNone;
    }
    return value;
  }

  bool parseWhole(std::u16string input) {
    text = std::move(input);
    nodes.clear();
    indexes.clear();
    memberIndexes.clear();
    root = kNone;
    nodes.reserve(text.size() / 24 + 4);
    root = parseAt(0);
    if (root == kNone) {
      text.clear();
      nodes.clear();
    }
    return root != kNone;
  }

  // Parses a fragment of the writing operations into unlinked nodes.
  std::uint32_t parseFragment(std::string_view localJson) {
    std::size_t textMark = text.size();
    std::u16string fragment = LocalToU16(localJson);
    if (fragment.find_first_not_of(u" \t\r\n") == std::u16string::npos) fragment = u"{}";
    text += fragment;
    std::uint32_t value = parseAt(textMark);
    if (value == kNone) text.resize(textMark);
    return value;
  }

  // ---- tree ----

  void link(std::uint32_t container, std::uint32_t child) {
    Node& c = nodes[container];
    if (c.last == kNone) {
      c.first = child;
    } else {
      nodes[c.last].next = child;
    }
    c.last = child;
    ++c.count;
    nodes[child].next = kNone;
    if (c.indexSlot != kNone) indexes[c.indexSlot].push_back(child);
    if (c.memberSlot != kNone) memberIndexes[c.memberSlot].try_emplace(nameOf(nodes[child]), child);
  }

  std::u16string decode(std::uint32_t begin, std::uint32_t len) const {
    std::u16string out;
    out.reserve(len);
    std::size_t end = std::size_t(begin) + len;
    for (std::size_t i = begin; i < end; ++i) {
      char16_t c = text[i];
      if (c != u'\\') {
        out += c;
        continue;
      }
      char16_t e = text[++i];
      switch (e) {
        case u'b':
          out += u'\b';
          break;
        case u'f':
          out += u'\f';
          break;
        case u'n':
          out += u'\n';
          break;
        case u'r':
          out += u'\r';
          break;
        case u't':
          out += u'\t';
          break;
        case u'u': {
          char16_t unit = 0;
          for (int k = 1; k <= 4; ++k)
            unit = static_cast<char16_t>(unit * 16 + HexValue(text[i + k]));
          out += unit;
          i += 4;
          break;
        }
        default:
          out += e;
          break;  // " \ / '
      }
    }
    return out;
  }

  std::u16string_view span(std::uint32_t begin, std::uint32_t len) const {
    return std::u16string_view(text).substr(begin, len);
  }

  std::u16string stringValue(const Node& node) const {
    if (node.flags & kTextEscaped) return decode(node.textBegin, node.textLen);
    return std::u16string(span(node.textBegin, node.textLen));
  }

  bool nameIs(const Node& node, std::u16string_view name) const {
    if (node.flags & kNameEscaped) return decode(node.nameBegin, node.nameLen) == name;
    return span(node.nameBegin, node.nameLen) == name;
  }

  std::u16string nameOf(const Node& node) const {
    if (node.flags & kNameEscaped) return decode(node.nameBegin, node.nameLen);
    return std::u16string(span(node.nameBegin, node.nameLen));
  }

  std::uint32_t findMember(std::uint32_t object, std::u16string_view name) {
    if (nodes[object].count <= kIndexedMembers) {
      for (std::uint32_t child = nodes[object].first; child != kNone; child = nodes[child].next) {
        if (nameIs(nodes[child], name)) return child;
      }
      return kNone;
    }
    if (nodes[object].memberSlot == kNone) {
      std::unordered_map<std::u16string, std::uint32_t> index;
      index.reserve(nodes[object].count);
      for (std::uint32_t child = nodes[object].first; child != kNone; child = nodes[child].next)
        index.try_emplace(nameOf(nodes[child]), child);
      memberIndexes.push_back(std::move(index));
      nodes[object].memberSlot = static_cast<std::uint32_t>(memberIndexes.size() - 1);
    }
    const auto& index = memberIndexes[nodes[object].memberSlot];
    auto found = index.find(std::u16string(name));
    return found == index.end() ? kNone : found->second;
  }

  std::uint32_t element(std::uint32_t array, std::size_t index) {
    Node& a = nodes[array];
    if (index >= a.count) return kNone;
    if (a.indexSlot == kNone) {
      std::vector<std::uint32_t> children;
      children.reserve(a.count);
      for (std::uint32_t child = a.first; child != kNone; child = nodes[child].next)
        children.push_back(child);
      indexes.push_back(std::move(children));
      nodes[array].indexSlot = static_cast<std::uint32_t>(indexes.size() - 1);
    }
    return indexes[nodes[array].indexSlot][index];
  }

  std::uint32_t stepFrom(std::uint32_t node, const Step& step) {
    if (node == kNone) return kNone;
    if (step.isIndex) return nodes[node].kind == Kind::Array ? element(node, step.index) : kNone;
    return nodes[node].kind == Kind::Object ? findMember(node, step.name) : kNone;
  }

  std::uint32_t resolve(std::string_view path) {
    std::vector<Step> steps;
    if (!ParsePath(path, steps)) return kNone;
    std::uint32_t node = root;
    for (const Step& step : steps) node = stepFrom(node, step);
    return node;
  }

  std::uint32_t newNode(Kind kind) {
    nodes.emplace_back();
    nodes.back().kind = kind;
    return static_cast<std::uint32_t>(nodes.size() - 1);
  }

  std::uint32_t addText(std::u16string_view value) {
    std::uint32_t begin = static_cast<std::uint32_t>(text.size());
    text += value;
    return begin;
  }

  // The node a write goes to: found, or created at the end of its object or array.
  // kNone when a step before the last does not lead to an object or array.
  std::uint32_t writeTarget(std::string_view path) {
    std::vector<Step> steps;
    if (!ParsePath(path, steps)) return kNone;
    if (steps.empty()) {
      if (root == kNone) root = newNode(Kind::Null);
      return root;
    }
    if (root == kNone) {
      if (steps.size() > 1) return kNone;
      root = newNode(steps[0].isIndex ? Kind::Array : Kind::Object);
    }
    std::uint32_t parent = root;
    for (std::size_t s = 0; s + 1 < steps.size(); ++s) parent = stepFrom(parent, steps[s]);
    if (parent == kNone) return kNone;
    const Step& last = steps.back();
    if (last.isIndex) {
      if (nodes[parent].kind != Kind::Array) return kNone;
      if (last.index < nodes[parent].count) return element(parent, last.index);
      if (last.index - nodes[parent].count > kMaxGap) return kNone;
      std::uint32_t child = kNone;
      while (nodes[parent].count <= last.index) {
        child = newNode(Kind::Null);
        link(parent, child);
      }
      return child;
    }
    if (nodes[parent].kind != Kind::Object) return kNone;
    std::uint32_t child = findMember(parent, last.name);
    if (child != kNone) return child;
    child = newNode(Kind::Null);
    nodes[child].nameBegin = addText(last.name);
    nodes[child].nameLen = static_cast<std::uint32_t>(last.name.size());
    link(parent, child);
    return child;
  }

  // Gives `target` the value of the unlinked node `value`, keeping its name and place.
  void assign(std::uint32_t target, std::uint32_t value) {
    Node& t = nodes[target];
    const Node& v = nodes[value];
    t.kind = v.kind;
    t.textBegin = v.textBegin;
    t.textLen = v.textLen;
    t.first = v.first;
    t.last = v.last;
    t.count = v.count;
    t.number = v.number;
    t.indexSlot = kNone;
    t.memberSlot = kNone;
    t.flags = static_cast<std::uint8_t>((t.flags & kNameEscaped) | (v.flags & ~kNameEscaped));
  }

  void mergeObject(std::uint32_t target, std::uint32_t object) {
    std::uint32_t child = nodes[object].first;
    while (child != kNone) {
      std::uint32_t next = nodes[child].next;
      std::u16string name = nameOf(nodes[child]);
      std::uint32_t existing = findMember(target, name);
      if (existing != kNone) {
        assign(existing, child);
      } else {
        link(target, child);
      }
      child = next;
    }
  }

  // ---- writing JSON ----

  void writeString(std::u16string_view s, bool rawBackslashes, std::u16string& out) const {
    out += u'"';
    for (std::size_t i = 0; i < s.size(); ++i) {
      char16_t c = s[i];
      if (c == u'\\' && rawBackslashes) {
        // Text given to SetText may carry JSON escapes of its own (\uXXXX from a
        // reply): those go out as escapes. A backslash that starts none would make
        // the file unreadable, so it is escaped like any other.
        char16_t e = i + 1 < s.size() ? s[i + 1] : 0;
        if (e == u'u' && i + 5 < s.size() && IsHex(s[i + 2]) && IsHex(s[i + 3]) &&
            IsHex(s[i + 4]) && IsHex(s[i + 5])) {
          out += s.substr(i, 6);
          i += 5;
          continue;
        }
        if (e != 0 && std::u16string_view(u"\"\\/bfnrt").find(e) != std::u16string_view::npos) {
          out += c;
          out += e;
          ++i;
          continue;
        }
        out += u"\\\\";
        continue;
      }
      switch (c) {
        case u'\\':
          out += u"\\\\";
          break;
        case u'"':
          out += u"\\\"";
          break;
        case u'\b':
          out += u"\\b";
          break;
        case u'\t':
          out += u"\\t";
          break;
        case u'\n':
          out += u"\\n";
          break;
        case u'\f':
          out += u"\\f";
          break;
        case u'\r':
          out += u"\\r";
          break;
        default:
          if (NeedsUnitEscape(c) || LoneSurrogateAt(s, i)) {
            AppendUnitEscape(out, c);
          } else {
            out += c;
          }
      }
    }
    out += u'"';
  }

  void writeValue(std::uint32_t index, std::u16string& out) const {
    const Node& node = nodes[index];
    switch (node.kind) {
      case Kind::Null:
        out += u"null";
        return;
      case Kind::True:
        out += u"true";
        return;
      case Kind::False:
        out += u"false";
        return;
      case Kind::Number: {
        double value = (node.flags & kSetNumber) ? node.number
                                                 : LiteralValue(span(node.textBegin, node.textLen));
        if (!std::isfinite(value)) {
          out += u"null";
          return;
        }
        std::string formatted = FormatNumber(value);
        out.append(formatted.begin(), formatted.end());
        return;
      }
      case Kind::String:
        writeString(stringValue(node), node.flags & kRawBackslashes, out);
        return;
      case Kind::Array:
      case Kind::Object: {
        bool object = node.kind == Kind::Object;
        out += object ? u'{' : u'[';
        for (std::uint32_t child = node.first; child != kNone; child = nodes[child].next) {
          if (child != node.first) out += u',';
          if (object) {
            writeString(nameOf(nodes[child]), false, out);
            out += u':';
          }
          writeValue(child, out);
        }
        out += object ? u'}' : u']';
        return;
      }
    }
  }

  std::u16string json(std::uint32_t index) const {
    if (index == kNone) return {};
    std::u16string out;
    writeValue(index, out);
    return out;
  }

  // The JSON text's escapes are JSON's own: a "\u" in it is never literal text.
  std::string localJson(std::uint32_t index) const {
    return UnicodeToEscapedLocal(json(index), LiteralEscapes::kKeep);
  }

  void setString(std::string_view path, std::u16string value, std::uint8_t flags) {
    std::uint32_t target = writeTarget(path);
    if (target == kNone) return;
    std::uint32_t node = newNode(Kind::String);
    nodes[node].textBegin = addText(value);
    nodes[node].textLen = static_cast<std::uint32_t>(value.size());
    nodes[node].flags = flags;
    assign(target, node);
  }
};

JsonDoc::JsonDoc() : impl_(std::make_unique<Impl>()) {}
JsonDoc::~JsonDoc() = default;
JsonDoc::JsonDoc(const JsonDoc& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
JsonDoc& JsonDoc::operator=(const JsonDoc& other) {
  if (this != &other) impl_ = std::make_unique<Impl>(*other.impl_);
  return *this;
}
JsonDoc::JsonDoc(JsonDoc&& other) noexcept : impl_(std::make_unique<Impl>()) {
  impl_.swap(other.impl_);
}
JsonDoc& JsonDoc::operator=(JsonDoc&& other) noexcept {
  impl_.swap(other.impl_);
  return *this;
}

bool JsonDoc::parse(std::string_view localText) {
  return impl_->parseWhole(LocalToU16(localText));
}

bool JsonDoc::parseUtf8(std::string_view utf8) {
  utf8 = UpToNul(utf8);
  if (IsAscii(utf8)) return impl_->parseWhole(std::u16string(utf8.begin(), utf8.end()));
  return impl_->parseWhole(Utf8ToUnicode(utf8));
}

bool JsonDoc::parseUnicode(std::u16string_view text) {
  return impl_->parseWhole(CutAtTerminator(text));
}

std::string JsonDoc::getText(std::string_view path) const {
  std::uint32_t index = impl_->resolve(path);
  if (index == kNone) return {};
  const Node& node = impl_->nodes[index];
  switch (node.kind) {
    case Kind::String:
      return UnicodeToEscapedLocal(impl_->stringValue(node), LiteralEscapes::kKeep);
    case Kind::Number: {
      std::u16string_view literal = impl_->span(node.textBegin, node.textLen);
      return std::string(literal.begin(), literal.end());
    }
    case Kind::True:
      return "true";
    case Kind::False:
      return "false";
    default:
      return {};
  }
}

std::u16string JsonDoc::getUnicode(std::string_view path) const {
  std::uint32_t index = impl_->resolve(path);
  if (index == kNone) return {};
  const Node& node = impl_->nodes[index];
  if (node.kind == Kind::String) return impl_->stringValue(node);
  return LocalToU16(getText(path));
}

std::string JsonDoc::getJson(std::string_view path) const {
  return impl_->localJson(impl_->resolve(path));
}

int JsonDoc::count(std::string_view path) const {
  std::uint32_t index = impl_->resolve(path);
  if (index == kNone) return 0;
  const Node& node = impl_->nodes[index];
  return (node.kind == Kind::Array || node.kind == Kind::Object) ? static_cast<int>(node.count) : 0;
}

void JsonDoc::setText(std::string_view path, std::string_view text) {
  impl_->setString(path, LocalToU16(text), kRawBackslashes);
}

void JsonDoc::setUnicode(std::string_view path, std::u16string_view text) {
  impl_->setString(path, std::u16string(text), 0);
}

void JsonDoc::setNumber(std::string_view path, double number) {
  std::uint32_t target = impl_->writeTarget(path);
  if (target == kNone) return;
  std::string formatted = FormatNumber(number);
  std::uint32_t node = impl_->newNode(Kind::Number);
  impl_->nodes[node].textBegin = impl_->addText(std::u16string(formatted.begin(), formatted.end()));
  impl_->nodes[node].textLen = static_cast<std::uint32_t>(formatted.size());
  impl_->nodes[node].number = number;
  impl_->nodes[node].flags = kSetNumber;
  impl_->assign(target, node);
}

void JsonDoc::setJson(std::string_view path, std::string_view jsonText) {
  std::uint32_t value = impl_->parseFragment(jsonText);
  if (value == kNone) return;
  std::uint32_t target = impl_->writeTarget(path);
  if (target == kNone) return;
  if (impl_->nodes[target].kind == Kind::Object && impl_->nodes[value].kind == Kind::Object) {
    impl_->mergeObject(target, value);
  } else {
    impl_->assign(target, value);
  }
}

void JsonDoc::append(std::string_view path, std::string_view jsonText) {
  std::uint32_t value = impl_->parseFragment(jsonText);
  if (value == kNone) return;
  std::uint32_t target = impl_->writeTarget(path);
  if (target == kNone) return;
  Node& t = impl_->nodes[target];
  if (t.kind != Kind::Array) {
    t.kind = Kind::Array;
    t.first = t.last = kNone;
    t.count = 0;
    t.indexSlot = kNone;
    t.memberSlot = kNone;
    t.flags &= kNameEscaped;
  }
  impl_->link(target, value);
}

std::string JsonDoc::toText() const {
  return impl_->localJson(impl_->root);
}

std::string JsonDoc::toUtf8() const {
  return UnicodeToUtf8(impl_->json(impl_->root));
}

std::string EscapeJsonPathName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x81 &&
        i + 1 < name.size()) {  // a GBK pair: its trail byte may look like [ ] or a backslash
      out += name.substr(i, 2);
      ++i;
      continue;
    }
    if (c == '.' || c == '[' || c == ']' || c == '\\') out += '\\';
    out += static_cast<char>(c);
  }
  return out;
}

}  // namespace pansift
