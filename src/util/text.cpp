#include "util/text.h"

#include <algorithm>

namespace pansift {
namespace {

inline bool IsLead(char c) { return static_cast<unsigned char>(c) >= 0x80; }

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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
  size_t end = (limit < 0 || static_cast<size_t>(limit) > text.size()) ? text.size() : static_cast<size_t>(limit);
  int found = -1;
  size_t pos = 0;
  while (pos < text.size() && pos + marker.size() <= end) {
    if (MatchesAt(text, pos, marker, ignoreCase)) found = static_cast<int>(pos) + 1;
    pos += IsLead(text[pos]) ? 2 : 1;
  }
  return found;
}

std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to, bool ignoreCase) {
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
  size_t begin = 0;
  size_t end = text.size();
  while (true) {
    if (begin < end && text[begin] == ' ') {
      ++begin;
    } else if (begin + 1 < end && text.substr(begin, 2) == "\xA1\xA1") {
      begin += 2;
    } else {
      break;
    }
  }
  while (true) {
    if (end > begin && text[end - 1] == ' ') {
      --end;
    } else if (end >= begin + 2 && text.substr(end - 2, 2) == "\xA1\xA1") {
      end -= 2;
    } else {
      break;
    }
  }
  return std::string(text.substr(begin, end - begin));
}

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right, int start,
                        bool ignoreCase) {
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

}  // namespace pansift
