// Conversions between local text (GBK bytes), Unicode text (UTF-16) and UTF-8.
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

/// A UTF-8 literal of the program's own texts as local text: L8("提示").
std::string L8(std::string_view utf8);

}  // namespace pansift
