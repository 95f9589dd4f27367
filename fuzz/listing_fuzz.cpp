// ReadEntries on arbitrary listing replies, and the dir values made from the
// paths a reply carries.
#include <string>

#include "fuzz_check.h"
#include "netdisk/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input = pansift::fuzz::AsText(data, size);
  std::vector<pansift::NetdiskEntry> entries = pansift::ReadEntries(input);
  for (const pansift::NetdiskEntry& entry : entries) {
    std::string dir = pansift::FolderPathToDir(entry.path);
    // A dir value is percent-encoded: it never carries a byte a URL cannot.
    for (char c : dir) FUZZ_CHECK(c > ' ' && c < 0x7F);
  }
  (void)pansift::FolderPathToDir(input);
  return 0;
}
