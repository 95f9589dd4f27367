// Text encodings, in one place: conversions between local text (GBK bytes), Unicode
// text (UTF-16) and UTF-8, UTF-16 little-endian bytes, and telling the encoding of
// a file's bytes.
//
// Local text is a std::string of GBK (code page 936) bytes; Unicode text is a
// std::u16string, where a 0x0000 unit ends the text for every later conversion.
// A character GBK cannot hold becomes "?".
#pragma once

#include <string>
#include <string_view>

namespace pansift {

/// Local text to Unicode. The result carries no terminator unit: a std::u16string
/// knows its length. A byte that starts no GBK character becomes U+FFFD on its
/// own, so the byte after it is read as what it is.
std::u16string LocalToUnicode(std::string_view local);
/// Unicode text (read up to the first 0x0000 unit) to local text.
std::string UnicodeToLocal(std::u16string_view unicode);
/// Whether a "\u" in escaped local text (below) stays literal text.
enum class LiteralEscapes { kEscape, kKeep };

/// Unicode text as local text in which a character GBK cannot hold is written as a
/// "\uXXXX" escape (each unit of a surrogate pair on its own), so names outside GBK
/// (an emoji) survive the program's local text. With kEscape a backslash that a "u"
/// follows is escaped too ("\u005c"), so every "\u" of the result starts an escape
/// and DecodeUnicodeEscapes gives the text back exactly; a name may hold the literal
/// text "\u0031". Stops at the first 0x0000 unit.
std::string UnicodeToEscapedLocal(std::u16string_view unicode,
                                  LiteralEscapes literal = LiteralEscapes::kEscape);

/// Unicode text as ASCII: every unit from 0x80 up as a "\uXXXX" escape (each unit of
/// a surrogate pair on its own), every other unit, 0x0000 too, as itself.
std::string EscapeNonAscii(std::u16string_view unicode);

/// The code units before the first 0x0000 unit.
std::u16string CutAtTerminator(std::u16string_view unicode);

std::string UnicodeToUtf8(std::u16string_view unicode);  // up to the first 0x0000 unit
std::u16string Utf8ToUnicode(std::string_view utf8);
std::string LocalToUtf8(std::string_view local);
std::string Utf8ToLocal(std::string_view utf8);

/// Whether `lead` and `trail` form one two-byte GBK character: a lead byte 81-FE
/// and a trail byte 40-7E or 80-FE. (0x80 alone is the euro sign.)
bool IsGbkPair(unsigned char lead, unsigned char trail);

/// Whether all of `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
/// nothing above U+10FFFF). Plain ASCII is valid UTF-8.
bool IsValidUtf8(std::string_view bytes);

/// Whether every byte is below 0x80: such bytes read the same as GBK and as UTF-8.
bool IsAscii(std::string_view bytes);

/// A UTF-8 literal of the program's own texts as local text: L8("提示").
std::string L8(std::string_view utf8);

// ---- UTF-16 little-endian bytes --------------------------------------------------

/// Every unit of `text` as two bytes, low byte first (a 0x0000 unit too).
std::string ToUtf16LeBytes(std::u16string_view text);
/// Appends every unit of `text` to `out` as two bytes, low byte first.
void AppendUtf16Le(std::string& out, std::u16string_view text);
/// Units of two bytes each, low byte first; an odd last byte is left out.
std::u16string FromUtf16LeBytes(std::string_view bytes);

// ---- The encoding of a file --------------------------------------------------------

/// Text encodings DetectTextEncoding tells apart.
enum TextEncoding : int {
  kEncodingUtf8 = 1,
  kEncodingUtf16Le = 2,
  kEncodingUtf16Be = 3,
  kEncodingAnsi = 4,  // GBK
};

/// Guesses the encoding of a file's bytes: a UTF-8 or UTF-16 byte-order mark; then
/// LooksLikeUtf16Le; then UTF-8 when all of the bytes are valid UTF-8 and some are
/// not ASCII, else GBK. (A GBK name often starts like a UTF-8 sequence; it is the
/// rest of the file that tells them apart.)
int DetectTextEncoding(std::string_view bytes);

/// Whether bytes without a byte-order mark are plausibly UTF-16 little-endian text:
/// an even length; every unit a character that text holds (surrogates paired, no
/// U+FFFE/U+FFFF, no control character but tab, CR and LF, U+0000 only as a final
/// terminator); and at least a quarter of the units ASCII characters, i.e. units
/// whose high byte is zero. Text in GBK or UTF-8 has no zero bytes, so it never
/// passes; UTF-16 text of only CJK characters is not recognised either.
bool LooksLikeUtf16Le(std::string_view bytes);

/// The text of a file the program writes itself (the account file, a table
/// export), which is UTF-8 or GBK: the bytes up to the first NUL, read as UTF-8
/// when they start with the UTF-8 byte-order mark or all of them are valid UTF-8
/// (DetectTextEncoding), else as GBK; the byte-order mark itself is dropped.
/// UTF-16 is never taken: it reads as GBK.
std::u16string DecodeOwnFile(std::string_view bytes);

}  // namespace pansift
