// The code-page conversions on arbitrary bytes, read as GBK, as UTF-8 and as
// UTF-16 units. Once a text has been through a conversion it survives the way
// there and back unchanged.
#include <string>

#include "fuzz_check.h"
#include "util/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pansift;
  std::string_view input = fuzz::AsText(data, size);

  // GBK: what one round produced, a second round keeps.
  std::string local = UnicodeToLocal(LocalToUnicode(input));
  FUZZ_CHECK(UnicodeToLocal(LocalToUnicode(local)) == local);

  // UTF-8: decoded text (invalid bytes already U+FFFD) encodes and decodes back.
  std::u16string unicode = CutAtTerminator(Utf8ToUnicode(input));
  std::string utf8 = UnicodeToUtf8(unicode);
  FUZZ_CHECK(Utf8ToUnicode(utf8) == unicode);

  (void)LocalToUtf8(input);
  (void)Utf8ToLocal(input);

  // UTF-16 units as they come, lone surrogates included.
  const std::u16string units = FromUtf16LeBytes(input);
  FUZZ_CHECK(ToUtf16LeBytes(units) == input.substr(0, units.size() * 2));
  (void)UnicodeToLocal(units);
  (void)UnicodeToUtf8(units);
  FUZZ_CHECK(CutAtTerminator(units).find(u'\0') == std::u16string::npos);
  return 0;
}
