#include "util/escapes.h"

#include <algorithm>

#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsOctal(char16_t c) {
  return c >= u'0' && c <= u'7';
}

// The value of exactly `count` hex digits at `pos`, or -1.
int HexRun(std::u16string_view text, size_t pos, size_t count) {
  if (pos + count > text.size()) return -1;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    int digit = HexValue(text[pos + i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// The content of a single-quoted string literal, decoded as a script engine of the
// ECMAScript 3 era does it, octal escapes included.
std::u16string DecodeLiteralEscapes(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char16_t c = text[i];
    if (c != u'\\' || i + 1 == text.size()) {
      out += c;
      ++i;
      continue;
    }
    char16_t e = text[i + 1];
    i += 2;
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
      case u'v':
        out += u'\v';
        break;
      case u'x': {
        int value = HexRun(text, i, 2);
        if (value < 0) {
          out += u'x';
        } else {
          out += static_cast<char16_t>(value);
          i += 2;
        }
        break;
      }
      default:
        if (IsOctal(e)) {
          // 0-3 may take two more digits, 4-7 one more, so the value stays below 0x100.
          int value = e - u'0';
          int more = e <= u'3' ? 2 : 1;
          while (more-- > 0 && i < text.size() && IsOctal(text[i]))
            value = value * 8 + (text[i++] - u'0');
          out += static_cast<char16_t>(value);
        } else {
          out += e;
        }
    }
  }
  return out;
}

// %uXXXX and %XX; a percent sign without such digits stays.
std::u16string DecodePercentEscapes(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == u'%') {
      int value = i + 1 < text.size() && text[i + 1] == u'u' ? HexRun(text, i + 2, 4) : -1;
      if (value >= 0) {
        out += static_cast<char16_t>(value);
        i += 6;
        continue;
      }
      value = HexRun(text, i + 1, 2);
      if (value >= 0) {
        out += static_cast<char16_t>(value);
        i += 3;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

std::u16string DecodeUnicodeEscapes(std::string_view local) {
  // Searching the Unicode text, not the GBK bytes, so that a two-byte character whose
  // trail byte is a backslash never starts an escape.
  std::u16string text = LocalToUnicode(local);
  constexpr std::u16string_view kEscape = u"\\u";
  size_t pos = text.find(kEscape);
  if (pos == std::u16string::npos) return text;
  std::u16string out = text.substr(0, pos);
  while (pos != std::u16string::npos) {
    size_t start = pos + kEscape.size();
    size_t next = text.find(kEscape, start);
    std::u16string_view piece =
        std::u16string_view(text).substr(start, next == std::u16string::npos ? next : next - start);
    size_t head = std::min<size_t>(4, piece.size());
    unsigned value = 0;
    for (size_t i = 0; i < head && HexValue(piece[i]) >= 0; ++i)
      value = value * 16 + HexValue(piece[i]);
    out += static_cast<char16_t>(value);
    out += piece.substr(head);
    pos = next;
  }
  return out;
}

std::string DecodeUnicodeEscapesUtf8(std::string_view local) {
  return UnicodeToUtf8(DecodeUnicodeEscapes(local));
}

std::string UnescapeReplyText(std::string_view local) {
  std::string_view body = local;
  if (!body.empty() && body[0] == '\r' && (body.size() < 2 || body[1] != '\n'))
    body.remove_prefix(1);
  // Chinese messages come as "\u" escapes; reading them as "%u" leaves a "\u" without
  // four hex digits visible instead of turning it into a bare "u".
  std::string marked = ReplaceText(body, "\\u", "%u");
  return UnicodeToLocal(DecodePercentEscapes(DecodeLiteralEscapes(LocalToUnicode(marked))));
}

}  // namespace pansift
