// The text routines that cut replies and imported files apart. The input is a
// separator (up to the first NUL byte) and a text. Splitting and joining again
// gives the text back, less a final separator.
#include <string>

#include "fuzz_check.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pansift;
  auto [separator, text] = fuzz::SplitAtNul(fuzz::AsText(data, size));

  for (std::string_view sep : {separator, std::string_view("\r\n"), std::string_view("\n")}) {
    std::vector<std::string> pieces = SplitText(text, sep);
    if (sep.empty() || text.empty()) continue;
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) joined += sep;
      joined += pieces[i];
    }
    // The pieces are in order and nothing but separators is lost.
    FUZZ_CHECK(joined.size() <= text.size());
    FUZZ_CHECK(text.substr(0, joined.size()) == joined);
    std::string_view tail = text.substr(joined.size());
    FUZZ_CHECK(tail.empty() || tail == sep);
  }

  (void)TrimText(text);
  int first = FindText(text, separator);
  FUZZ_CHECK(first == -1 || (first >= 1 && static_cast<size_t>(first) <= text.size() + 1));
  int last = FindLastText(text, separator, -1, true);
  FUZZ_CHECK(last == -1 || (last >= 1 && static_cast<size_t>(last) <= text.size() + 1));
  (void)FindText(text, separator, static_cast<int>(size % 7) - 2, true);
  (void)ReplaceText(text, separator, "x", true);
  (void)TextBetween(text, separator, "\"", 1, true);
  (void)TextLeftOf(text, separator, -1);
  (void)TextLeftOf(text, separator, -3);
  (void)TextRightOf(text, separator, 2);
  (void)TextRightOf(text, separator, -2);
  (void)HeaderName(text);
  (void)HeaderValue(text);
  (void)NormaliseHeaderCase(text);
  (void)UrlEncode(text);
  (void)UrlEncode(text, false, false);
  (void)UrlEncodeBytes(text, false);
  return 0;
}
