// Loading baiduset.ini from arbitrary bytes, and saving what was loaded: accounts
// read from a file survive a save and a reload.
#include <string>

#include "accounts/account_file.h"
#include "fuzz_check.h"
#include "util/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pansift;
  std::string_view input = fuzz::AsText(data, size);
  (void)DetectTextEncoding(input);
  (void)LooksLikeUtf16Le(input);

  std::vector<AccountRecord> rows = AccountsFromFileBytes(input);
  std::string saved = AccountsToJson(rows);
  std::vector<AccountRecord> reloaded = AccountsFromFileBytes(saved);
  FUZZ_CHECK(reloaded.size() == rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const AccountRecord& row = rows[i];
    // Every text, backslashes included, comes back byte for byte. A text with a
    // stray GBK lead byte is left out: the writer takes the byte after it as the
    // lead byte's trail byte (a backslash included), which is a known fault.
    bool stray = false;
    for (int column : {kColumnUserName, kColumnCookies, kColumnUk, kColumnBdstoken}) {
      stray = stray || fuzz::HasStrayLeadByte(row.cell(column));
    }
    if (!stray) FUZZ_CHECK(reloaded[i] == row);
  }
  return 0;
}
