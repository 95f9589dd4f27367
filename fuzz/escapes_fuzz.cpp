// The decoders of "\u" escapes, script-literal escapes and entities on arbitrary
// text, and the entity encoder's inverse.
#include <string>

#include "fuzz_check.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input = pansift::fuzz::AsText(data, size);

  std::u16string unicode = pansift::DecodeUnicodeEscapes(input);
  (void)pansift::UnicodeToLocal(unicode);
  (void)pansift::UnescapeReplyText(input);

  (void)pansift::DecodeEntitiesWithTilde(input);
  (void)pansift::StripEntityWords(input);
  std::string encoded = pansift::EncodeEntities(input);
  FUZZ_CHECK(pansift::DecodeEntities(encoded) == input);
  return 0;
}
