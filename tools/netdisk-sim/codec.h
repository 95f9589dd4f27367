// Text coding the simulated service needs: query and form decoding, the
// service's JSON string style, a small JSON reader for fixtures and request
// bodies, and the RC4 + Base64 sign.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pansift::sim {

using QueryItems = std::vector<std::pair<std::string, std::string>>;

/// Percent-decoding as a form does it: "+" is a space, "%XX" a byte; a broken
/// escape stays as it is.
std::string FormDecode(std::string_view text);
/// Whether `bytes` are well-formed UTF-8 (shortest forms, no surrogates).
bool IsUtf8(std::string_view bytes);
/// Splits "a=1&b=2" into decoded pairs, in order, duplicates kept.
QueryItems ParseQuery(std::string_view raw);
/// The first value of `key`; `found` tells an empty value from a missing key.
std::string QueryValue(const QueryItems& items, std::string_view key, bool* found = nullptr);
/// Percent-encodes every byte but letters, digits and - . _ ~ (for URLs the
/// simulator writes itself, such as login targets).
std::string PercentEncode(std::string_view bytes);

/// A JSON string literal in the service's style: quotes included, non-ASCII as
/// lower-case "\uXXXX" (surrogate pairs above U+FFFF), "/" as "\/". Input is UTF-8;
/// invalid bytes become U+FFFD.
std::string JsonString(std::string_view utf8);
/// The same escapes without the quotes.
std::string JsonEscape(std::string_view utf8);

struct JsonMember;

/// A parsed JSON value. Numbers keep their text.
struct JsonValue {
  enum class Type { Null, Bool, Number, String, Array, Object };
  Type type = Type::Null;
  std::string text;  // string (UTF-8), number text, "true"/"false"
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in document order

  const JsonValue* get(std::string_view key) const;
  std::string string(std::string_view key, std::string fallback = {}) const;
  std::int64_t integer(std::string_view key, std::int64_t fallback = 0) const;
  double number(std::string_view key, double fallback = 0) const;
  bool boolean(std::string_view key, bool fallback = false) const;
  bool isObject() const { return type == Type::Object; }
  bool isArray() const { return type == Type::Array; }
};

/// One member of an object. Not a std::pair: a pair of a type still being
/// defined is refused by some standard libraries (clang with libstdc++).
struct JsonMember {
  JsonMember(std::string name, JsonValue value)
      : first(std::move(name)), second(std::move(value)) {}
  std::string first;
  JsonValue second;
};

/// Parses a whole JSON text; false (with a reason) when it is not valid JSON.
bool ParseJson(std::string_view text, JsonValue& out, std::string* error = nullptr);

/// Base64 (RFC 4648, with padding) of RC4 keyed with `key` over `data`.
std::string ComputeSign(std::string_view key, std::string_view data);
std::string Base64(std::string_view bytes);

}  // namespace pansift::sim
