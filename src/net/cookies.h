// Bringing a cookie string up to date with the cookies a reply sets. Two ways, one
// per back end: MergeCookies (the platform back end, on request) and CookieJar (the
// curl back end, always). Both work on name=value pairs only: attributes, expiry,
// domains and paths are dropped.
#pragma once

#include <string>
#include <string_view>

namespace pansift {

/// The reply's pairs (`newCookies`) in reply order, then the pairs of `oldCookies`
/// whose names the reply did not set; pairs whose value is "deleted" (lower case)
/// are dropped, and exact duplicates are kept once.
std::string MergeCookies(std::string_view oldCookies, std::string_view newCookies);

/// The per-request cookie store of the curl back end. The content is kept as
/// "; a=1; b=2; " so that every pair, the first included, is found by searching
/// for "; name=".
class CookieJar {
 public:
  /// The jar holds exactly these pairs, in this order, unparsed.
  void set(std::string_view cookies);
  /// The pairs joined by "; ", without a leading or trailing separator; "" when empty.
  std::string get() const;
  /// Applies every Set-Cookie line of a raw header block in order: an existing pair
  /// is replaced in place (removed when the new value is empty), a new one appended
  /// unless empty or deleted. A line ends at LF (CR LF or bare LF). True when any
  /// pair was added, replaced or removed.
  bool absorbHeaders(std::string_view headers);

 private:
  std::string text_ = "; ";
};

}  // namespace pansift
