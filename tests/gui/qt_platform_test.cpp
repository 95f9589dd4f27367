#include "gui/qt_platform.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include "util/codepage.h"

namespace pansift {
namespace {

// A native dialog on Linux matches its patterns as fnmatch does, case and all.
bool NativeMatch(const std::string& pattern, const char* name) {
  return fnmatch(pattern.c_str(), name, 0) == 0;
}

TEST(CaseInsensitiveFilter, ExtensionsMatchInAnyCase) {
  EXPECT_EQ(CaseInsensitiveFilter(L8("文本文件(*.txt)")), L8("文本文件(*.[tT][xX][tT])"));
  EXPECT_EQ(CaseInsensitiveFilter("a (*.tar.gz *.mp3)"), "a (*.[tT][aA][rR].[gG][zZ] *.[mM][pP]3)");
  EXPECT_EQ(CaseInsensitiveFilter("all (*)"), "all (*)");

  const std::string pattern = "*.[tT][xX][tT]";
  for (const char* name : {"a.txt", "a.TXT", "导出.Txt"})
    EXPECT_TRUE(NativeMatch(pattern, name)) << name;
  for (const char* name : {"a.txt.bak", "a.md", "txt"})
    EXPECT_FALSE(NativeMatch(pattern, name)) << name;
}

}  // namespace
}  // namespace pansift
