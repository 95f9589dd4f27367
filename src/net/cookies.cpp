#include "net/cookies.h"

#include <vector>

#include "util/text.h"

namespace pansift {
namespace {

constexpr std::string_view kSeparator = "; ";

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string PrepareForSplit(std::string_view text) {
  std::string trimmed = TrimText(text);
  if (EndsWith(trimmed, ";")) trimmed += ' ';
  return trimmed;
}

// A piece without "=" is its own name, so malformed pieces travel along unchanged.
std::string PairName(std::string_view piece) {
  size_t eq = piece.find('=');
  return TrimText(eq == std::string_view::npos ? piece : piece.substr(0, eq));
}

std::string Join(const std::vector<std::string>& pieces) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out += kSeparator;
    out += pieces[i];
  }
  return out;
}

bool IsDeletedForJar(std::string_view pair) {
  return EndsWith(pair, "=deleted") || EndsWith(pair, "=DELETED") || EndsWith(pair, "=Deleted");
}

}  // namespace

std::string MergeCookies(std::string_view oldCookies, std::string_view newCookies) {
  std::vector<std::string> result = SplitText(PrepareForSplit(newCookies), kSeparator);
  std::vector<std::string> names;
  names.reserve(result.size());
  for (const std::string& piece : result) names.push_back(PairName(piece));

  for (std::string& piece : SplitText(PrepareForSplit(oldCookies), kSeparator)) {
    std::string name = PairName(piece);
    bool known = false;
    for (const std::string& existing : names) known = known || existing == name;
    if (known) continue;
    names.push_back(std::move(name));
    result.push_back(std::move(piece));
  }

  std::string joined;
  for (const std::string& piece : result) {
    if (EndsWith(piece, "=deleted")) continue;
    joined += piece;
    joined += kSeparator;
  }
  if (EndsWith(joined, kSeparator)) joined.resize(joined.size() - kSeparator.size());

  std::vector<std::string> unique;
  for (std::string& piece : SplitText(joined, kSeparator)) {
    bool seen = false;
    for (const std::string& kept : unique) seen = seen || kept == piece;
    if (!seen) unique.push_back(std::move(piece));
  }
  return Join(unique);
}

void CookieJar::set(std::string_view cookies) {
  std::string text(cookies);
  if (!text.starts_with(kSeparator)) text.insert(0, kSeparator);
  if (!EndsWith(text, kSeparator)) {
    if (text.back() != ';') text += ';';
    if (text.back() != ' ') text += ' ';
  }
  text_ = std::move(text);
}

std::string CookieJar::get() const {
  if (text_.size() <= 2 * kSeparator.size()) return "";
  return text_.substr(kSeparator.size(), text_.size() - 2 * kSeparator.size());
}

bool CookieJar::absorbHeaders(std::string_view headers) {
  constexpr std::string_view kMarker = "Set-Cookie:";
  bool changed = false;
  int from = 1;
  for (;;) {
    int marker = FindText(headers, kMarker, from, true);
    if (marker < 1) break;
    size_t valueStart = static_cast<size_t>(marker - 1) + kMarker.size();
    // A line ends at LF, with or without the CR before it: a server that ends a
    // line with a bare LF must not fold the next header into the cookie.
    size_t lineEnd = headers.find('\n', valueStart);
    if (lineEnd == std::string_view::npos) break;
    if (lineEnd > valueStart && headers[lineEnd - 1] == '\r') --lineEnd;
    size_t pairEnd = headers.find(';', valueStart);
    if (pairEnd == std::string_view::npos || pairEnd > lineEnd) pairEnd = lineEnd;
    from = static_cast<int>(pairEnd) + 1;

    std::string_view pair = headers.substr(valueStart, pairEnd - valueStart);
    while (!pair.empty() && (pair.front() == ' ' || pair.front() == '\t')) pair.remove_prefix(1);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    bool emptyValue = eq + 1 == pair.size();

    std::string needle = std::string(kSeparator) + std::string(pair.substr(0, eq + 1));
    size_t found = text_.find(needle);
    if (found != std::string::npos) {
      size_t start = found + kSeparator.size();
      size_t end = text_.find(kSeparator, start);  // the jar always ends with one
      if (emptyValue) {
        text_.erase(start, end + kSeparator.size() - start);
      } else {
        text_.replace(start, end - start, pair);
      }
      changed = true;
    } else if (!emptyValue && !IsDeletedForJar(pair)) {
      text_ += pair;
      text_ += kSeparator;
      changed = true;
    }
  }
  return changed;
}

}  // namespace pansift
