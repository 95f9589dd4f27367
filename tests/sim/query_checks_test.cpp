// The key-by-key checks the simulator applies to listing and liveness requests.
#include "query_checks.h"

#include <gtest/gtest.h>

namespace pansift::sim {
namespace {

constexpr const char* kCrawler =
    "order=time&desc=1&showempty=0&web=1&page=2&num=100&dir=%2Fa"
    "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0";
constexpr const char* kNodeByName =
    "order=name&desc=0&showempty=0&web=1&page=1&num=100&dir=%2Fa"
    "&t=0.9227398003716567&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0";
constexpr const char* kRoot =
    "order=name&desc=1&showempty=0&web=1&page=1&num=200&dir=%2F"
    "&t=0.18259558284517108&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0";
constexpr const char* kMoveTest =
    "clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456&order=time&desc=1"
    "&dir=%2Fx&num=100&page=1";
constexpr const char* kFollow =
    "clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456&start=0&limit=10";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(QueryChecks, TheProgramsFormsPassAndEveryChangeIsNamed) {
  for (const char* good : {kCrawler, kNodeByName, kRoot, kMoveTest})
    EXPECT_EQ(CheckListQuery(good), "") << good;
  EXPECT_EQ(CheckFollowListQuery(kFollow), "");

  struct Case {
    std::string query;
    const char* why;
  } lists[] = {
      {Replace(kCrawler, "&showempty=0", ""), "missing key showempty"},
      {Replace(kCrawler, "showempty=0", "showempty=1"), "key showempty is '1', expected '0'"},
      {Replace(kCrawler, "&channel=chunlei&web=1", "&channel=chunlei"),
       "key web out of order: 'app_id' at position 10"},
      {Replace(kCrawler, "bdstoken=", "bdstoken=abc"), "key bdstoken is 'abc', expected ''"},
      {Replace(kCrawler, "&t=0.9874196068828893", "&t=0.5"),
       "key t is '0.5', expected one of "
       "0.9874196068828893|0.9227398003716567|0.18259558284517108"},
      {Replace(kCrawler, "&bdstoken=&", "&bdstoken=&logid=&"),
       "key clienttype out of order: "
       "'logid' at position 13"},
      {Replace(kNodeByName, "&logid=", ""), "missing key logid"},
      {Replace(kRoot, "num=200", "num=100"), "key num is '100', expected '200'"},
      {Replace(kCrawler, "dir=%2Fa", "dir=/a"),
       "key dir is '/a', expected a path starting with %2F"},
      {std::string(kCrawler) + "&extra=1", "unexpected key extra"},
      {Replace(kMoveTest, "1234567890123456", "12345678901234567890"),
       "key dp-logid is '12345678901234567890', expected 16 digits"},
  };
  for (const Case& c : lists) EXPECT_EQ(CheckListQuery(c.query), c.why) << c.query;
  EXPECT_EQ(CheckFollowListQuery(Replace(kFollow, "&start=0&limit=10", "&limit=10&start=0")),
            "key start out of order: 'limit' at position 5");
  EXPECT_EQ(CheckFollowListQuery(Replace(kFollow, "web=1", "web=2")),
            "key web is '2', expected '1'");
}

}  // namespace
}  // namespace pansift::sim
