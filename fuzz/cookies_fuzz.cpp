// Cookie merging on arbitrary cookie strings and Set-Cookie header blocks. The
// input is two texts separated by a NUL byte: the old cookies, then the new ones
// (or the header block for CookieJar).
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "net/cookies.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [oldCookies, newCookies] = pansift::fuzz::SplitAtNul(pansift::fuzz::AsText(data, size));

  std::string merged = pansift::MergeCookies(oldCookies, newCookies);
  // Merging the same reply twice changes nothing more. Left out: texts with a ";"
  // or a space that is not part of a "; " separator (the ends of a cookie string
  // are trimmed and a final ";" ends it, so a value "abc;" or "abc " at the end
  // loses that byte and its name may then read differently), and texts with a
  // stray GBK lead byte.
  auto wellFormed = [](std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == ';' && (i + 1 == text.size() || text[i + 1] != ' ')) return false;
      if (text[i] == ' ' && (i == 0 || text[i - 1] != ';')) return false;
    }
    return !pansift::fuzz::HasStrayLeadByte(text);
  };
  if (wellFormed(oldCookies) && wellFormed(newCookies)) {
    FUZZ_CHECK(pansift::MergeCookies(merged, newCookies) == merged);
  }

  pansift::CookieJar jar;
  jar.set(oldCookies);
  jar.absorbHeaders(newCookies);
  std::string after = jar.get();
  // Absorbing the same headers again leaves the same pairs (a reply that removes
  // a pair and sets it again moves it to the end, so the order may change). Left
  // out: jars that start with a name twice (each removal takes one of them).
  auto pairs = [](const std::string& cookies) {
    std::vector<std::string> list = pansift::SplitText(cookies, "; ");
    std::sort(list.begin(), list.end());
    return list;
  };
  auto namesUnique = [](std::string_view cookies) {
    std::vector<std::string> names;
    for (const std::string& pair : pansift::SplitText(cookies, "; ")) {
      names.push_back(pair.substr(0, pair.find('=')));
    }
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end();
  };
  jar.absorbHeaders(newCookies);
  if (wellFormed(oldCookies) && namesUnique(oldCookies)) {
    FUZZ_CHECK(pairs(jar.get()) == pairs(after));
  }
  return 0;
}
