// Routines on local text (GBK bytes): searching, cutting, header lines, query
// strings and entities.
//
// Positions are 1-based byte positions; -1 means not found. Every search matches
// only at character boundaries: a byte 0x80 or above and the byte after it are
// stepped over together. Ignoring case compares ASCII letters only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pansift {

/// The position of `marker` in `text` at or after `start` (below 1 counts as 1),
/// or -1. An empty marker matches at `start` of a non-empty text.
int FindText(std::string_view text, std::string_view marker, int start = 1,
             bool ignoreCase = false);
/// The position of the last occurrence of `marker` lying entirely within the first
/// `limit` bytes of `text` (limit < 0: the whole text), or -1.
int FindLastText(std::string_view text, std::string_view marker, int limit = -1,
                 bool ignoreCase = false);

/// Replaces every non-overlapping occurrence, left to right; replaced text is not scanned again.
std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to,
                        bool ignoreCase = false);
/// The pieces between separators, empty ones included, but no empty last piece;
/// an empty text gives no pieces.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator);
/// Removes ASCII spaces and full-width spaces (A1 A1) at both ends.
std::string TrimText(std::string_view text);

/// Reads a number typed into an edit box like the C library's atoi: leading blanks,
/// an optional sign, then digits up to the first other character; no digits give 0.
/// A box takes what the user types, so full-width digits (A3 B0..A3 B9) are digits
/// and a full-width minus or plus (A3 AD, A3 AB) is a sign, mixed freely with ASCII
/// ones. Values beyond the range of int are clamped to it.
int ParseBoxNumber(std::string_view text);

/// The text between the left marker and the next right marker. "#引号" in a marker
/// stands for a double quote.
std::string TextBetween(std::string_view text, std::string_view left, std::string_view right,
                        int start = 1, bool ignoreCase = false);
/// The text before an occurrence of `marker`: from 0 or k > 0 the first at or after
/// k; -1 the last; -k (k > 1) the last within the first (length - k) bytes.
std::string TextLeftOf(std::string_view text, std::string_view marker, int from = 0,
                       bool ignoreCase = false);
/// The text after an occurrence of `marker`: from 0 the last; k > 0 the last within
/// the first (length - k) bytes; -k the first at or after k.
std::string TextRightOf(std::string_view text, std::string_view marker, int from = 0,
                        bool ignoreCase = false);

/// The trimmed text before the first colon of a header line; empty without a colon.
std::string HeaderName(std::string_view line);
/// The trimmed text after the first colon of a header line; empty without a colon.
std::string HeaderValue(std::string_view line);
/// Header lines joined by CR LF, with lines without a colon dropped and every name
/// piece between hyphens capitalised ("x-requested-with" -> "X-Requested-With").
/// No trailing CR LF.
std::string NormaliseHeaderCase(std::string_view lines);

/// Percent-encodes local text for a query value (as UTF-8 when `asUtf8`). Kept:
/// letters, digits and - . _ ' ( ) *; a space becomes "+"; 0x00 bytes are dropped.
std::string UrlEncode(std::string_view text, bool keepUnreserved = true, bool asUtf8 = true);
/// Percent-encodes raw bytes. Kept: letters, digits and - . _; a space becomes "+";
/// every other byte, 0x00 included, becomes %XX.
std::string UrlEncodeBytes(std::string_view bytes, bool upperCase = true);
/// The bytes of a percent-encoded text: "%XX" (either case) to its byte and "+" to a
/// space; a "%" without two hex digits stays as it is.
std::string UrlDecodeBytes(std::string_view text);
/// & [ ] , ' " as "&amp;" "&#91;" "&#93;" "&#44;" "&apos;" "&quot;".
std::string EncodeEntities(std::string_view text);
/// The inverse of EncodeEntities.
std::string DecodeEntities(std::string_view text);
/// DecodeEntities, then "&#126;" to a tilde.
std::string DecodeEntitiesWithTilde(std::string_view text);
/// Removes the words "amp;", "quot;" and "divide;", ignoring case.
std::string StripEntityWords(std::string_view text);

}  // namespace pansift
