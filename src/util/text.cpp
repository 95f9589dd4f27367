#include "util/text.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "util/codepage.h"

namespace pansift {
namespace {

inline bool IsLead(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

inline char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesAt(std::string_view text, size_t pos, std::string_view marker, bool ignoreCase) {
  if (pos + marker.size() > text.size()) return false;
  for (size_t i = 0; i < marker.size(); ++i) {
    char a = text[pos + i];
    char b = marker[i];
    if (ignoreCase ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
  }
  return true;
}

}  // namespace

int FindText(std::string_view text, std::string_view marker, int start, bool ignoreCase) {
  if (start < 1) start = 1;
  if (text.empty() || static_cast<size_t>(start) > text.size()) return -1;
  // Walk from the first byte so that character boundaries are known.
  size_t pos = 0;
  while (pos < text.size()) {
    if (pos + 1 >= static_cast<size_t>(start) && MatchesAt(text, pos, marker, ignoreCase)) {
      return static_cast<int>(pos) + 1;
    }
    pos += IsLead(text[pos]) ? 2 : 1;
  }
  return -1;
}

int FindLastText(std::string_view text, std::string_view marker, int limit, bool ignoreCase) {
  size_t end = (limit < 0 || static_cast<size_t>(limit) > text.size()) ? text.size()
                                                                       : static_cast<size_t>(limit);
  int found = -1;
  size_t pos = 0;
  while (pos < text.size() && pos + marker.size() <= end) {
    if (MatchesAt(text, pos, marker, ignoreCase)) found = static_cast<int>(pos) + 1;
    pos += IsLead(text[pos]) ? 2 : 1;
  }
  return found;
}

std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to,
                        bool ignoreCase) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t copied = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (MatchesAt(text, pos, from, ignoreCase)) {
      out.append(text.substr(copied, pos - copied));
      out.append(to);
      pos += from.size();
      copied = pos;
      continue;
    }
    pos += IsLead(text[pos]) ? 2 : 1;
  }
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
  int start = 1;
  while (true) {
    int found = FindText(text, separator, start);
    if (found < 0) {
      if (static_cast<size_t>(start) <= text.size()) pieces.emplace_back(text.substr(start - 1));
      break;
    }
    pieces.emplace_back(text.substr(start - 1, found - start));
    start = found + static_cast<int>(separator.size());
  }
  return pieces;
}

std::string TrimText(std::string_view text) {
  // Character starts, so that a trailing A1 A1 is only taken when it is a whole
  // character and not the trail byte of one character plus a stray byte.
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < text.size(); pos += IsLead(text[pos]) ? 2 : 1) starts.push_back(pos);
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
      pos += IsLead(c) ? 2 : 1;
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

std::string DecodeSpaceAndTilde(std::string_view text) {
  return ReplaceText(ReplaceText(text, "%20", " ", true), "%7E", "~", true);
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
