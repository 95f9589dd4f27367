// Decoding of the escapes found in the service's replies and in names taken from
// them: "\u" escapes and script string-literal escapes.
#pragma once

#include <string>
#include <string_view>

namespace pansift {

/// Local text to Unicode with every backslash-u escape decoded: up to four characters
/// after "\u" are read, the longest run of hex digits at their start gives the code
/// unit (0x0000 when there is none) and the four characters are consumed. A 0x0000
/// unit made here is kept in the result; later conversions stop at it.
std::u16string DecodeUnicodeEscapes(std::string_view local);
/// DecodeUnicodeEscapes as UTF-8: a name from the service or the account file as
/// the user sees it.
std::string DecodeUnicodeEscapesUtf8(std::string_view local);

/// A reply body made readable: the escapes of a single-quoted script string literal
/// (\b \f \n \r \t \v, \xHH, octal \O \OO \OOO, \<any other character>), then
/// %uXXXX and %XX, with "\u" read as "%u". Returns local text, which ends at the
/// first decoded 0x0000 unit. Line breaks are ordinary characters and a backslash
/// at the very end stays a backslash.
std::string UnescapeReplyText(std::string_view local);

}  // namespace pansift
