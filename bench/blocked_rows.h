// A blocked-file row as a check writes it, for the blocked-list benchmarks.
#pragma once

#include <string>

#include "blocked/blocked_list.h"
#include "util/codepage.h"

namespace pansift {

/// Row `i` of a list: a name GBK holds in part, a path with escapes, still 待处理.
inline BlockedRow BenchBlockedRow(int i) {
  BlockedRow row;
  row.ordinal = std::to_string(i + 1);
  row.detectedAt = "12-10 17:35:48";
  row.name = u"电影 café " + LocalToUnicode(std::to_string(i)) + u".mkv";
  row.fsid = std::to_string(900000000000LL + i);
  row.location = u"/资料/第二层";
  row.path = "/\\u8d44\\u6599/\\u7b2c\\u4e8c\\u5c42/file" + std::to_string(i) + ".mkv";
  row.account = L8("网盘*用户");
  row.deleteStatus = L8("待处理");
  return row;
}

}  // namespace pansift
