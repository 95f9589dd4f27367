#include "net/cookies.h"

#include <gtest/gtest.h>

#include <iterator>

namespace pansift {
namespace {

struct MergeCase {
  const char* what;
  const char* oldCookies;
  const char* newCookies;
  const char* merged;
};

const MergeCase kMergeCases[] = {
    {"reply pairs first, then old ones not set, deleted dropped", "a=1; b=2; c=3",
     "b=5; d=6; c=deleted", "b=5; d=6; a=1"},
    {"empty reply keeps first pair of each name, drops deleted", "a=1; b=2; a=3; c=deleted", "",
     "a=1; b=2"},
    {"old text ending in a semicolon", "a=1; b=2;", "c=3", "c=3; a=1; b=2"},
    {"old text ending in semicolon and blanks", "  a=1; b=2;  ", "", "a=1; b=2"},
    {"same pair twice in old is kept once", "a=1; a=1", "", "a=1"},
    {"same pair in old and reply is kept once", "a=1", "a=1", "a=1"},
    {"deleted cookie not carried by the request is not added", "a=1", "z=deleted", "a=1"},
    {"an empty value is sent on", "a=1; b=2", "b=", "b=; a=1"},
    {"upper-case DELETED counts as a value", "a=1", "c=DELETED; d=Deleted",
     "c=DELETED; d=Deleted; a=1"},
    {"names compare with case", "A=1", "a=2", "a=2; A=1"},
    {"names are trimmed", "a =1", "a=2", "a=2"},
    {"piece without '=' is carried along", "junk; a=1", "a=2", "a=2; junk"},
    {"both empty", "", "", ""},
};

TEST(MergeCookies, Cases) {
  for (const MergeCase& c : kMergeCases) {
    EXPECT_EQ(MergeCookies(c.oldCookies, c.newCookies), c.merged) << c.what;
  }
}

TEST(CookieJar, SetThenGetReturnsTheText) {
  const char* texts[] = {"a=1; b=2", "a=1; b=2; ", "; a=1", "a=1;", "x"};
  const char* expected[] = {"a=1; b=2", "a=1; b=2", "a=1", "a=1", "x"};
  for (size_t i = 0; i < std::size(texts); ++i) {
    CookieJar jar;
    jar.set(texts[i]);
    EXPECT_EQ(jar.get(), expected[i]) << texts[i];
  }
  CookieJar empty;
  EXPECT_EQ(empty.get(), "");
  empty.set("");
  EXPECT_EQ(empty.get(), "");
}

struct JarCase {
  const char* what;
  const char* cookies;
  const char* headers;
  const char* after;
  bool changed;
};

const JarCase kJarCases[] = {
    {"existing cookie replaced in place", "a=1; b=2; c=3", "Set-Cookie: b=5; Path=/\r\n",
     "a=1; b=5; c=3", true},
    {"new cookie appended at the end", "a=1; b=2", "Set-Cookie: d=6\r\n", "a=1; b=2; d=6", true},
    {"deleting an existing cookie keeps it with the value deleted", "a=1; b=2",
     "Set-Cookie: b=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n", "a=1; b=deleted", true},
    {"deleting an unknown cookie adds nothing", "a=1",
     "Set-Cookie: z=deleted\r\nSet-Cookie: y=DELETED\r\n"
     "Set-Cookie: x=Deleted\r\n",
     "a=1", false},
    {"empty value removes the existing pair", "a=1; b=2; c=3", "Set-Cookie: b=; Path=/\r\n",
     "a=1; c=3", true},
    {"empty value removes the first pair", "a=1; b=2", "Set-Cookie: a=\r\n", "b=2", true},
    {"empty value for an unknown cookie adds nothing", "a=1", "Set-Cookie: n=\r\n", "a=1", false},
    {"lower-case header name is applied", "a=1", "set-cookie: a=9\r\n", "a=9", true},
    {"two lines for a new name: appended, then replaced", "a=1",
     "Set-Cookie: n=1\r\nSet-Cookie: n=2\r\n", "a=1; n=2", true},
    {"no Set-Cookie line leaves the jar alone", "a=1",
     "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", "a=1", false},
    {"a pair without '=' is ignored", "a=1", "Set-Cookie: flag; Path=/\r\n", "a=1", false},
    {"a line without CR LF after it is not read", "a=1", "Set-Cookie: b=2", "a=1", false},
    {"a bare LF ends the value: the next header is not folded in", "a=1",
     "Set-Cookie: b=2\nX-Other: 3\r\n", "a=1; b=2", true},
    {"a server that ends every line with LF alone", "a=1",
     "HTTP/1.1 200 OK\nSet-Cookie: b=2\nSet-Cookie: c=3; Path=/\nX-After: 1\n\n", "a=1; b=2; c=3",
     true},
    {"name must match whole, not as a suffix", "xa=1", "Set-Cookie: a=2\r\n", "xa=1; a=2", true},
    {"every response of a redirect chain", "a=1",
     "HTTP/1.1 302 Found\r\nSet-Cookie: r=1\r\n\r\nHTTP/1.1 200 OK\r\nSet-Cookie: a=2\r\n\r\n",
     "a=2; r=1", true},
    {"empty jar gets new cookies", "", "Set-Cookie: a=1; HttpOnly\r\n", "a=1", true},
};

TEST(CookieJar, AbsorbHeadersCases) {
  for (const JarCase& c : kJarCases) {
    CookieJar jar;
    jar.set(c.cookies);
    EXPECT_EQ(jar.absorbHeaders(c.headers), c.changed) << c.what;
    EXPECT_EQ(jar.get(), c.after) << c.what;
  }
}

// One reply seen by both procedures: the differences between the back ends.
TEST(CookieMerging, JarAndMergeDifferAsDocumented) {
  const char* request = "a=1; b=2; c=3";
  CookieJar jar;
  jar.set(request);
  jar.absorbHeaders(
      "Set-Cookie: b=5\r\nSet-Cookie: d=6\r\nSet-Cookie: c=deleted\r\nSet-Cookie: e=DELETED\r\n");
  EXPECT_EQ(jar.get(), "a=1; b=5; c=deleted; d=6");
  EXPECT_EQ(MergeCookies(request, "b=5; d=6; c=deleted; e=DELETED"), "b=5; d=6; e=DELETED; a=1");
}

}  // namespace
}  // namespace pansift
