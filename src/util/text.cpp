#include "util/text.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <initializer_list>

#include "util/codepage.h"

namespace pansift {
namespace {

// The length of the character at `i`: 2 for a GBK lead byte followed by a byte that
// can follow it, else 1. A stray byte of 0x80 and above (a broken or foreign
// character) stands alone and never swallows the separator after it.
inline size_t CharLength(std::string_view text, size_t i) {
  return i + 1 < text.size() && IsGbkPair(static_cast<unsigned char>(text[i]),
                                          static_cast<unsigned char>(text[i + 1]))
             ? 2
             : 1;
}

// A byte that is neither a lead nor a trail byte, so always a character of its own.
inline bool AlwaysAlone(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x40 || byte == 0xFF;
}

inline char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A marker prepared for one left-to-right pass over a text (Knuth-Morris-Pratt):
// after a mismatch the scan never steps back, so a search costs the bytes scanned
// plus the marker's length, whatever the text holds.
class Marker {
 public:
  Marker(std::string_view marker, bool ignoreCase)
      : bytes_(marker), ignoreCase_(ignoreCase), border_(marker.size(), 0) {
    if (ignoreCase_) {
      for (char& c : bytes_) c = FoldAscii(c);
    }
    for (size_t i = 1, k = 0; i < bytes_.size(); ++i) {
      while (k > 0 && bytes_[i] != bytes_[k]) k = border_[k - 1];
      if (bytes_[i] == bytes_[k]) ++k;
      border_[i] = k;
    }
  }

  size_t size() const { return bytes_.size(); }

  // Calls `found(pos)` (0-based) for every occurrence that starts on a character
  // start within [from, end), overlapping ones included, left to right, until it
  // returns false. Character starts are counted from `walkFrom`, which must be one.
  template <class Found>
  void scan(std::string_view text, size_t walkFrom, size_t from, size_t end, Found found) const {
    const size_t m = bytes_.size();
    if (m == 0 || end > text.size()) return;
    // Whether each of the last m positions was a character start.
    std::vector<bool> starts(m, false);
    size_t nextStart = walkFrom;
    size_t matched = 0;
    for (size_t i = walkFrom; i < end; ++i) {
      bool isStart = i == nextStart;
      if (isStart) nextStart = i + CharLength(text, i);
      starts[i % m] = isStart;
      char c = ignoreCase_ ? FoldAscii(text[i]) : text[i];
      while (matched > 0 && c != bytes_[matched]) matched = border_[matched - 1];
      if (c == bytes_[matched]) ++matched;
      if (matched < m) continue;
      size_t pos = i + 1 - m;
      matched = border_[m - 1];
      if (pos >= from && starts[pos % m] && !found(pos)) return;
    }
  }

 private:
  std::string bytes_;
  bool ignoreCase_;
  std::vector<size_t> border_;  // longest proper border of each prefix
};

// The character start at or before `pos`: characters are counted from the last
// byte before it that always stands alone, so only that run is walked, not the
// whole text before `pos`.
size_t CharStartAtOrBefore(std::string_view text, size_t pos) {
  size_t start = pos;
  while (start > 0 && !AlwaysAlone(text[start - 1])) --start;
  for (;;) {
    const size_t next = start + CharLength(text, start);
    if (next > pos) return start;
    start = next;
  }
}

// The first character start at or after `pos`.
size_t CharStartAtOrAfter(std::string_view text, size_t pos) {
  size_t start = CharStartAtOrBefore(text, pos);
  return start == pos ? pos : pos + 1;
}

}  // namespace

int FindText(std::string_view text, std::string_view marker, int start, bool ignoreCase) {
  if (start < 1) start = 1;
  if (text.empty() || static_cast<size_t>(start) > text.size()) return -1;
  const size_t from = static_cast<size_t>(start) - 1;
  if (marker.empty()) {
    size_t pos = CharStartAtOrAfter(text, from);
    return pos < text.size() ? static_cast<int>(pos) + 1 : -1;
  }
  int result = -1;
  Marker(marker, ignoreCase)
      .scan(text, CharStartAtOrBefore(text, from), from, text.size(), [&](size_t pos) {
        result = static_cast<int>(pos) + 1;
        return false;
      });
  return result;
}

int FindLastText(std::string_view text, std::string_view marker, int limit, bool ignoreCase) {
  size_t end = (limit < 0 || static_cast<size_t>(limit) > text.size()) ? text.size()
                                                                       : static_cast<size_t>(limit);
  if (marker.empty()) {
    // The last character start that leaves room for nothing: any start below `end`.
    if (text.empty() || end == 0) return -1;
    size_t last = 0;
    for (size_t pos = 0; pos < text.size() && pos <= end; pos += CharLength(text, pos)) last = pos;
    return static_cast<int>(last) + 1;
  }
  int found = -1;
  Marker(marker, ignoreCase).scan(text, 0, 0, end, [&](size_t pos) {
    found = static_cast<int>(pos) + 1;
    return true;
  });
  return found;
}

std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to,
                        bool ignoreCase) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t copied = 0;
  Marker(from, ignoreCase).scan(text, 0, 0, text.size(), [&](size_t pos) {
    if (pos < copied) return true;  // overlaps the occurrence just replaced
    out.append(text.substr(copied, pos - copied));
    out.append(to);
    copied = pos + from.size();
    return true;
  });
  out.append(text.substr(std::min(copied, text.size())));
  return out;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  size_t pieceStart = 0;
  Marker(separator, false).scan(text, 0, 0, text.size(), [&](size_t pos) {
    if (pos < pieceStart) return true;  // overlaps the separator just taken
    pieces.emplace_back(text.substr(pieceStart, pos - pieceStart));
    pieceStart = pos + separator.size();
    return true;
  });
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

std::string TrimText(std::string_view text) {
  // Character starts, so that a trailing A1 A1 is only taken when it is a whole
  // character and not the trail byte of one character plus a stray byte.
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < text.size(); pos += CharLength(text, pos)) starts.push_back(pos);
  size_t first = 0;
  size_t last = starts.size();  // one past the last character kept
  auto isSpaceAt = [&](size_t index) {
    size_t pos = starts[index];
    if (text[pos] == ' ') return true;
    return pos + 1 < text.size() && text[pos] == '\xA1' && text[pos + 1] == '\xA1';
  };
  while (first < last && isSpaceAt(first)) ++first;
  while (last > first && isSpaceAt(last - 1)) --last;
  if (first == last) return {};
  size_t begin = starts[first];
  size_t end = last < starts.size() ? starts[last] : text.size();
  return std::string(text.substr(begin, end - begin));
}

namespace {

// The ASCII character that the character at `at` of a box's text stands for: an ASCII
// byte itself, a full-width digit, minus or plus (A3 xx) its ASCII form. `length` is
// set to the bytes it takes. 0 past the end and for any other double-byte character.
char BoxCharAt(std::string_view text, size_t at, size_t& length) {
  length = 1;
  if (at >= text.size()) return 0;
  if (text[at] != '\xA3') return text[at];
  const auto trail = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
  if (trail != 0xAB && trail != 0xAD && (trail < 0xB0 || trail > 0xB9)) return 0;
  length = 2;
  return static_cast<char>(trail - 0x80);
}

}  // namespace

int ParseBoxNumber(std::string_view text) {
  size_t i = 0;
  auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && blank(text[i])) ++i;
  size_t length = 1;
  bool negative = false;
  if (const char sign = BoxCharAt(text, i, length); sign == '+' || sign == '-') {
    negative = sign == '-';
    i += length;
  }
  long long value = 0;
  for (char c = BoxCharAt(text, i, length); c >= '0' && c <= '9'; c = BoxCharAt(text, i, length)) {
    // Stop growing once past int's range; the result is clamped below.
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (c - '0');
    i += length;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right,
                        int start, bool ignoreCase) {
  static const std::string kQuoteWord = "#\xD2\xFD\xBA\xC5";  // "#引号" in GBK
  std::string l = ReplaceText(left, kQuoteWord, "\"");
  std::string r = ReplaceText(right, kQuoteWord, "\"");
  int found = FindText(text, l, start, ignoreCase);
  if (found < 0) return {};
  int p = found + static_cast<int>(l.size());
  if (static_cast<size_t>(p) > text.size()) {
    return {};
  }
  int end = FindText(text, r, p, ignoreCase);
  if (end < 0) return {};
  return std::string(text.substr(p - 1, end - p));
}

std::string TextLeftOf(std::string_view text, std::string_view marker, int from, bool ignoreCase) {
  int found;
  if (from >= 0) {
    found = FindText(text, marker, from == 0 ? 1 : from, ignoreCase);
  } else if (from == -1) {
    found = FindLastText(text, marker, -1, ignoreCase);
  } else {
    int limit = static_cast<int>(text.size()) + from;
    found = limit < 0 ? -1 : FindLastText(text, marker, limit, ignoreCase);
  }
  if (found < 0) return {};
  return std::string(text.substr(0, found - 1));
}

std::string TextRightOf(std::string_view text, std::string_view marker, int from, bool ignoreCase) {
  int found;
  if (from == 0) {
    found = FindLastText(text, marker, -1, ignoreCase);
  } else if (from > 0) {
    int limit = static_cast<int>(text.size()) - from;
    found = limit < 0 ? -1 : FindLastText(text, marker, limit, ignoreCase);
  } else {
    found = FindText(text, marker, -from, ignoreCase);
  }
  if (found < 0) return {};
  return std::string(text.substr(found - 1 + marker.size()));
}

std::string HeaderName(std::string_view line) {
  int colon = FindText(line, ":");
  if (colon < 0) return {};
  return TrimText(line.substr(0, colon - 1));
}

std::string HeaderValue(std::string_view line) {
  int colon = FindText(line, ":");
  if (colon < 0) return {};
  return TrimText(line.substr(colon));
}

std::string NormaliseHeaderCase(std::string_view lines) {
  std::string out;
  bool first = true;
  for (const std::string& line : SplitText(lines, "\r\n")) {
    int colon = FindText(line, ":");
    if (colon < 0) continue;
    // Capitalise the first character of the name and of every piece after a hyphen;
    // the rest of the line, value included, is kept byte for byte.
    std::string fixed = line;
    bool pieceStart = true;
    for (size_t pos = 0; pos + 1 < static_cast<size_t>(colon);) {
      char c = fixed[pos];
      if (pieceStart && c >= 'a' && c <= 'z') fixed[pos] = static_cast<char>(c - 'a' + 'A');
      pieceStart = c == '-';
      pos += CharLength(fixed, pos);
    }
    if (!first) out += "\r\n";
    out += fixed;
    first = false;
  }
  return out;
}

namespace {

inline bool IsAsciiAlnum(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

void AppendPercent(std::string& out, unsigned char byte, bool upperCase) {
  char hex[4];
  std::snprintf(hex, sizeof hex, upperCase ? "%%%02X" : "%%%02x", byte);
  out += hex;
}

}  // namespace

std::string UrlEncode(std::string_view text, bool keepUnreserved, bool asUtf8) {
  std::string bytes = asUtf8 ? LocalToUtf8(text) : std::string(text);
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c == 0) continue;
    if (c == ' ') {
      out += '+';
    } else if (keepUnreserved && (IsAsciiAlnum(c) ||
                                  std::string_view("-._'()*").find(ch) != std::string_view::npos)) {
      out += ch;
    } else {
      AppendPercent(out, c, true);
    }
  }
  return out;
}

std::string UrlEncodeBytes(std::string_view bytes, bool upperCase) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c == ' ') {
      out += '+';
    } else if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_') {
      out += ch;
    } else {
      AppendPercent(out, c, upperCase);
    }
  }
  return out;
}

std::string UrlDecodeBytes(std::string_view text) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
               hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

namespace {

struct Replacement {
  std::string_view from;
  std::string_view to;
};

std::string ReplaceInOrder(std::string_view text, std::initializer_list<Replacement> steps,
                           bool ignoreCase = false) {
  std::string out(text);
  if (out.empty()) return out;
  for (const Replacement& step : steps) out = ReplaceText(out, step.from, step.to, ignoreCase);
  return out;
}

}  // namespace

// "&amp;" goes first when encoding and last when decoding, so that an entity that was
// itself encoded ("&amp;quot;") comes back as text and not as the character.
std::string EncodeEntities(std::string_view text) {
  return ReplaceInOrder(text, {{"&", "&amp;"},
                               {"[", "&#91;"},
                               {"]", "&#93;"},
                               {",", "&#44;"},
                               {"'", "&apos;"},
                               {"\"", "&quot;"}});
}

std::string DecodeEntities(std::string_view text) {
  return ReplaceInOrder(text, {{"&apos;", "'"},
                               {"&quot;", "\""},
                               {"&#91;", "["},
                               {"&#93;", "]"},
                               {"&#44;", ","},
                               {"&amp;", "&"}});
}

std::string DecodeEntitiesWithTilde(std::string_view text) {
  return ReplaceText(DecodeEntities(text), "&#126;", "~");
}

std::string StripEntityWords(std::string_view text) {
  return ReplaceInOrder(text, {{"amp;", ""}, {"quot;", ""}, {"divide;", ""}}, true);
}

}  // namespace pansift
