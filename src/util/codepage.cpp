#include "util/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace pansift {
namespace {

// The `index`th unit of UTF-16 little-endian bytes; the caller keeps it in range.
char16_t UnitAt(std::string_view bytes, size_t index) {
  return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * index]) |
                               (static_cast<unsigned char>(bytes[2 * index + 1]) << 8));
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The converters a thread has opened, one per direction, kept for the thread's life:
// opening one costs far more than a short name's conversion.
class ConverterCache {
 public:
  ConverterCache() = default;
  ConverterCache(const ConverterCache&) = delete;
  ConverterCache& operator=(const ConverterCache&) = delete;
  ~ConverterCache() {
    for (const Entry& entry : entries_) {
      if (entry.cd != kNoConverter) iconv_close(entry.cd);
    }
  }

  // A converter in its initial state, or kNoConverter when iconv has none.
  iconv_t get(const char* to, const char* from) {
    for (const Entry& entry : entries_) {
      if (std::strcmp(entry.to, to) == 0 && std::strcmp(entry.from, from) == 0) {
        if (entry.cd != kNoConverter) iconv(entry.cd, nullptr, nullptr, nullptr, nullptr);
        return entry.cd;
      }
    }
    entries_.push_back({to, from, iconv_open(to, from)});
    return entries_.back().cd;
  }

 private:
  struct Entry {
    const char* to;
    const char* from;
    iconv_t cd;
  };
  std::vector<Entry> entries_;
};

iconv_t ThreadConverter(const char* to, const char* from) {
  thread_local ConverterCache converters;
  return converters.get(to, from);
}

// Runs one iconv conversion. When a character cannot be represented, `replacement`
// (already in the target encoding) is written and `skipIn` bytes of input are skipped.
std::string Convert(const char* to, const char* from, const char* in, size_t inLen,
                    std::string_view replacement, size_t skipIn) {
  iconv_t cd = ThreadConverter(to, from);
  if (cd == kNoConverter) return {};
  std::string out;
  std::vector<char> buf(inLen * 4 + 16);
  char* inPtr = const_cast<char*>(in);
  size_t inLeft = inLen;
  while (inLeft > 0) {
    char* outPtr = buf.data();
    size_t outLeft = buf.size();
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buf.data(), buf.size() - outLeft);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: an unconvertible or incomplete character.
    out.append(replacement);
    size_t skip = std::min(skipIn, inLeft);
    // A surrogate pair in UTF-16 is one character: skip both units.
    if (std::strcmp(from, "UTF-16LE") == 0 && inLeft >= 4) {
      const std::string_view ahead(inPtr, 4);
      const char16_t unit = UnitAt(ahead, 0);
      const char16_t next = UnitAt(ahead, 1);
      if (unit >= 0xD800 && unit < 0xDC00 && next >= 0xDC00 && next < 0xE000) skip = 4;
    }
    // A lead byte with a trail byte forms one (unknown) character; any other byte
    // is skipped alone, so a stray byte never takes the ASCII character after it.
    if (std::strcmp(from, "CP936") == 0 && inLeft >= 2 &&
        IsGbkPair(static_cast<unsigned char>(inPtr[0]), static_cast<unsigned char>(inPtr[1]))) {
      skip = 2;
    }
    inPtr += skip;
    inLeft -= skip;
  }
  char* outPtr = buf.data();
  size_t outLeft = buf.size();
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buf.data(), buf.size() - outLeft);
  return out;
}

// ASCII reads the same in every encoding here: most names and all protocol text
// need no converter at all.
bool AllAscii(std::u16string_view unicode) {
  for (char16_t unit : unicode) {
    if (unit >= 0x80) return false;
  }
  return true;
}

std::u16string WidenAscii(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::string NarrowAscii(std::u16string_view ascii) {
  std::string out(ascii.size(), '\0');
  for (size_t i = 0; i < ascii.size(); ++i) out[i] = static_cast<char>(ascii[i]);
  return out;
}

const std::string kReplacementUtf16("\xFD\xFF", 2);  // U+FFFD, little-endian

void AppendUnitEscape(std::string& out, char16_t unit) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// One GBK character for one BMP character; false when GBK cannot hold it.
bool AppendGbkCharacter(char16_t unit, std::string& out) {
  iconv_t cd = ThreadConverter("CP936", "UTF-16LE");
  if (cd == kNoConverter || (unit >= 0xD800 && unit < 0xE000)) return false;
  std::string in = ToUtf16LeBytes(std::u16string_view(&unit, 1));
  char buf[8];
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = buf;
  size_t outLeft = sizeof buf;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  out.append(buf, sizeof buf - outLeft);
  return true;
}

}  // namespace

std::string UnicodeToEscapedLocal(std::u16string_view unicode, LiteralEscapes literal) {
  std::string out;
  out.reserve(unicode.size());
  for (size_t i = 0; i < unicode.size(); ++i) {
    const char16_t c = unicode[i];
    if (c == 0) break;
    if (c == u'\\' && literal == LiteralEscapes::kEscape && i + 1 < unicode.size() &&
        unicode[i + 1] == u'u') {
      AppendUnitEscape(out, c);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (!AppendGbkCharacter(c, out)) {
      // Beyond the BMP GBK holds nothing: a surrogate pair is two escapes.
      AppendUnitEscape(out, c);
    }
  }
  return out;
}

std::string EscapeNonAscii(std::u16string_view unicode) {
  std::string out;
  out.reserve(unicode.size());
  for (char16_t unit : unicode) {
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else {
      AppendUnitEscape(out, unit);
    }
  }
  return out;
}

std::u16string CutAtTerminator(std::u16string_view unicode) {
  size_t end = unicode.find(u'\0');
  return std::u16string(unicode.substr(0, end));
}

std::u16string LocalToUnicode(std::string_view local) {
  if (IsAscii(local)) return WidenAscii(local);
  return FromUtf16LeBytes(
      Convert("UTF-16LE", "CP936", local.data(), local.size(), kReplacementUtf16, 1));
}

std::string UnicodeToLocal(std::u16string_view unicode) {
  unicode = unicode.substr(0, unicode.find(u'\0'));
  if (AllAscii(unicode)) return NarrowAscii(unicode);
  std::string bytes = ToUtf16LeBytes(unicode);
  return Convert("CP936", "UTF-16LE", bytes.data(), bytes.size(), "?", 2);
}

std::string UnicodeToUtf8(std::u16string_view unicode) {
  unicode = unicode.substr(0, unicode.find(u'\0'));
  if (AllAscii(unicode)) return NarrowAscii(unicode);
  std::string bytes = ToUtf16LeBytes(unicode);
  return Convert("UTF-8", "UTF-16LE", bytes.data(), bytes.size(), "\xEF\xBF\xBD", 2);
}

std::u16string Utf8ToUnicode(std::string_view utf8) {
  if (IsAscii(utf8)) return WidenAscii(utf8);
  return FromUtf16LeBytes(
      Convert("UTF-16LE", "UTF-8", utf8.data(), utf8.size(), kReplacementUtf16, 1));
}

std::string LocalToUtf8(std::string_view local) {
  if (IsAscii(local)) return std::string(local);
  return UnicodeToUtf8(LocalToUnicode(local));
}

std::string Utf8ToLocal(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return UnicodeToLocal(Utf8ToUnicode(utf8));
}

bool IsGbkPair(unsigned char lead, unsigned char trail) {
  return lead >= 0x81 && lead <= 0xFE &&
         ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFE));
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  auto byte = [&](size_t at) { return static_cast<unsigned char>(bytes[at]); };
  while (i < bytes.size()) {
    unsigned char c = byte(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80;   // the range of the second byte (excludes overlong forms,
    unsigned char high = 0xBF;  // surrogates and code points above U+10FFFF)
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    if (byte(i + 1) < low || byte(i + 1) > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

bool IsAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string L8(std::string_view utf8) {
  return Utf8ToLocal(utf8);
}

// ---- UTF-16 little-endian bytes --------------------------------------------------

void AppendUtf16Le(std::string& out, std::u16string_view text) {
  for (char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
}

std::string ToUtf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  AppendUtf16Le(bytes, text);
  return bytes;
}

std::u16string FromUtf16LeBytes(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) out[i] = UnitAt(bytes, i);
  return out;
}

// ---- The encoding of a file --------------------------------------------------------

bool LooksLikeUtf16Le(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  size_t units = bytes.size() / 2;
  size_t ascii = 0;
  for (size_t i = 0; i < units; ++i) {
    const char16_t unit = UnitAt(bytes, i);
    if (unit == 0) {
      if (i + 1 != units) return false;  // only a terminator may be NUL
      continue;
    }
    if (unit < 0x20 && unit != u'\t' && unit != u'\r' && unit != u'\n') return false;
    if (unit == 0xFFFE || unit == 0xFFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= units) return false;
      const char16_t next = UnitAt(bytes, i + 1);
      if (next < 0xDC00 || next > 0xDFFF) return false;
      ++i;
      continue;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit < 0x80) ++ascii;
  }
  return ascii * 4 >= units;
}

int DetectTextEncoding(std::string_view bytes) {
  auto byte = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0; };
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
    return kEncodingUtf8;
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) return kEncodingUtf16Le;
  if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) return kEncodingUtf16Be;
  if (LooksLikeUtf16Le(bytes)) return kEncodingUtf16Le;
  // A GBK text may start like a UTF-8 sequence ("楠" is E9 AA); only the whole
  // file tells them apart.
  if (!IsAscii(bytes) && IsValidUtf8(bytes)) return kEncodingUtf8;
  return kEncodingAnsi;
}

std::u16string DecodeOwnFile(std::string_view bytes) {
  // Text without a NUL is never UTF-16 to DetectTextEncoding, so only its UTF-8
  // verdict matters; ASCII reads the same either way.
  std::string_view text = bytes.substr(0, bytes.find('\0'));
  // A UTF-8 byte-order mark marks the encoding and is no part of the text.
  if (text.starts_with("\xEF\xBB\xBF")) return Utf8ToUnicode(text.substr(3));
  return DetectTextEncoding(text) == kEncodingUtf8 ? Utf8ToUnicode(text) : LocalToUnicode(text);
}

}  // namespace pansift
