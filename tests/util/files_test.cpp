#include "util/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace pansift {
namespace {

namespace fs = std::filesystem;

// The program's own files are never read or replaced through a link; a file a
// person names is read and written wherever its name leads.
TEST(Files, OwnFilesStayOffLinksNamedFilesFollowThem) {
  testing::TempDir dir;
  const std::string target = dir.file("target");
  const std::string link = dir.file("link");
  ASSERT_TRUE(WriteFileBytes(target, "first, longer text"));
  fs::create_symlink(target, link);

  FileRead own = ReadOwnFile(link);
  EXPECT_TRUE(own.exists);
  EXPECT_FALSE(own.ok);
  FileRead named = ReadFileBytes(link);
  EXPECT_TRUE(named.ok);
  EXPECT_EQ(named.bytes, "first, longer text");

  // Written in place through the link, the old content gone.
  ASSERT_TRUE(WriteFileBytes(link, "second"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadOwnFile(target).bytes, "second");

  // Replaced as a whole: the link itself gives way, its target stays as it was.
  ASSERT_TRUE(ReplaceFile(link, "own", 0600));
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(ReadOwnFile(link).bytes, "own");
  EXPECT_EQ(ReadOwnFile(target).bytes, "second");
}

TEST(Files, WhatCannotBeReadOrWrittenSaysSo) {
  testing::TempDir dir;
  for (const FileRead& missing :
       {ReadOwnFile(dir.file("missing")), ReadFileBytes(dir.file("missing"))}) {
    EXPECT_FALSE(missing.exists);
    EXPECT_FALSE(missing.ok);
  }
  for (const FileRead& folder : {ReadOwnFile(dir.path()), ReadFileBytes(dir.path())}) {
    EXPECT_TRUE(folder.exists);
    EXPECT_FALSE(folder.ok);
  }
  // A device is read to its end when named, never as an own file.
  EXPECT_TRUE(ReadFileBytes("/dev/null").ok);
  EXPECT_FALSE(ReadOwnFile("/dev/null").ok);
  EXPECT_FALSE(WriteFileBytes(dir.file("no-such-folder/file"), "x"));
  EXPECT_FALSE(WriteFileBytes(dir.path(), "x"));
}

// A reader that names a limit gets nothing beyond it: a regular file is not read
// at all, an endless device is cut off.
TEST(Files, ALimitedReadRefusesMoreThanItsLimit) {
  testing::TempDir dir;
  const std::string file = dir.file("f");
  ASSERT_TRUE(WriteFileBytes(file, "12345"));
  EXPECT_EQ(ReadFileBytes(file, 5).bytes, "12345");
  for (const FileRead& over : {ReadFileBytes(file, 4), ReadFileBytes("/dev/zero", 1 << 20)}) {
    EXPECT_TRUE(over.exists);
    EXPECT_FALSE(over.ok);
    EXPECT_TRUE(over.tooLarge);
    EXPECT_TRUE(over.bytes.empty());
  }
}

}  // namespace
}  // namespace pansift
