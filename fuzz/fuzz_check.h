// What every fuzz target shares: a check that stops the run with a message when a
// property of the code under test does not hold, so libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace pansift::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
  std::abort();
}

/// The input as text, however libFuzzer hands it over.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

/// Splits an input at its first NUL byte: the first part and the rest (empty when
/// there is no NUL), for targets that take two texts.
inline std::pair<std::string_view, std::string_view> SplitAtNul(std::string_view text) {
  size_t nul = text.find('\0');
  if (nul == std::string_view::npos) return {text, {}};
  return {text.substr(0, nul), text.substr(nul + 1)};
}

/// Whether a text holds a byte 0x80 or above that no GBK trail byte follows (the
/// last byte, or one before an ASCII punctuation byte, a control byte or 0xFF). The
/// text routines step over such a byte and the byte after it as one character, so
/// a stray lead byte at the end of a piece swallows the separator after it: the
/// checks that depend on finding every separator skip such inputs.
inline bool HasStrayLeadByte(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) < 0x80) continue;
    if (i + 1 == text.size()) return true;
    unsigned char next = static_cast<unsigned char>(text[i + 1]);
    if (next < 0x40 || next == 0x7F || next == 0xFF) return true;
  }
  return false;
}

}  // namespace pansift::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::pansift::fuzz::Fail(#condition, __FILE__, __LINE__))
