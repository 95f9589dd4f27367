#include "netdisk/probe.h"

#include "core/app_state.h"
#include "core/log.h"
#include "core/platform.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "netdisk/sign.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/random.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kPasses = 5;
constexpr int kTriesPerPhase = 10;
constexpr int kProbeTimeoutSeconds = 8;
constexpr std::chrono::milliseconds kPausePoll{1000};
constexpr std::chrono::milliseconds kUndeterminedWait{2500};
constexpr std::chrono::milliseconds kRetryWait{1500};

const char kNotBlockedMarker[] = "{\"errno\":0,\"request_id";
const char kBlockedMarker[] = "{\"errno\":-1,\"request_id";
const char kUndeterminedMarker[] = "{\"errno\":2,";
const char kSignRefusedAgainMarker[] = "{\"errno\":112,";
const char kTooLongMarker[] = "<title>414 Request-URI Too Large</title>";

bool Has(std::string_view reply, std::string_view marker) {
  return FindText(reply, marker) > 0;
}

bool SignRefused(std::string_view reply) {
  return Has(reply, "{\"errno\":113,\"request_id\":") ||
         Has(reply, "{\"errno\":112,\"request_id\":");
}

// Holds while the task is paused; false when the task is to stop.
bool WaitWhilePaused(AppState& app) {
  // A stop ends the pause too, so a stopped task never hangs here.
  while (app.paused.load() && !app.stopRequested.load()) {
    WaitPumping(app.platform, kPausePoll);
    ProcessEvents(app.platform);
  }
  return !app.stopRequested.load();
}

std::string SendProbe(AppState& app, const std::string& cookies, std::string_view fsIdList,
                      const SignResult& sign) {
  HttpRequest request;
  request.url = NetdiskUrl(app, ProbeUrl(fsIdList, sign.sign, sign.timestamp, NewLogId()));
  request.cookies = cookies;
  request.timeoutSeconds = kProbeTimeoutSeconds;
  return SendRequest(request).body;
}

enum class TryVerdict { kRetry, kDone };

// The waits between tries: by the reply, or none after an empty one.
TryVerdict AfterTry(AppState& app, const std::string& reply, bool signPhase) {
  if (Has(reply, kUndeterminedMarker)) {
    WaitPumping(app.platform, kUndeterminedWait);
    return TryVerdict::kRetry;
  }
  if ((signPhase && Has(reply, kSignRefusedAgainMarker)) || Has(reply, kTooLongMarker)) {
    WaitPumping(app.platform, kRetryWait);
    return TryVerdict::kRetry;
  }
  if (!reply.empty()) return TryVerdict::kDone;
  ProcessEvents(app.platform);
  return TryVerdict::kRetry;
}

// fs_ids are numbers: "1,22,333". Anything else would become part of the URL.
bool IsFsIdList(std::string_view list) {
  bool digitBefore = false;
  for (char c : list) {
    if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else if (c == ',' && digitBefore) {
      digitBefore = false;
    } else {
      return false;
    }
  }
  return digitBefore;
}

}  // namespace

std::string ProbeUrl(std::string_view fsIdList, std::string_view sign, std::string_view timestamp,
                     std::string_view logId) {
  return std::string("/api/download?") + kWebApiKeys + std::string(logId) + "&fidlist=%5B" +
         UrlEncode(fsIdList) + "%5D&type=dlink&vip=0&sign=" + UrlEncode(sign) +
         "&timestamp=" + std::string(timestamp);
}

ProbeOutcome ProbeDownload(AppState& app, const Credentials& account, std::string_view fsIdList,
                           const std::function<std::string()>& pauseSecondsText) {
  // Nothing asked, nothing decided.
  if (fsIdList.empty()) return ProbeOutcome::kUndecided;
  if (!IsFsIdList(fsIdList)) {
    AppendLog(app, L8("文件的fs_id不是数字，无法检查。"));
    return ProbeOutcome::kUndecided;
  }
  SignResult sign = GetSign(app, account, false);
  if (!sign.ok) sign = GetSign(app, account, false);
  if (!sign.ok) {
    AppendLog(app, L8("获取sign失败"));
    return ProbeOutcome::kUndecided;
  }
  const std::string& cookies = account.cookies;

  std::string reply;
  for (int pass = 0; pass < kPasses; ++pass) {
    for (int attempt = 0; attempt < kTriesPerPhase; ++attempt) {
      if (!WaitWhilePaused(app)) return ProbeOutcome::kUndecided;
      reply = SendProbe(app, cookies, fsIdList, sign);
      if (AfterTry(app, reply, false) == TryVerdict::kDone) break;
    }
    if (Has(reply, kNotBlockedMarker)) return ProbeOutcome::kNotBlocked;
    if (Has(reply, kBlockedMarker)) return ProbeOutcome::kBlocked;

    if (SignRefused(reply)) {
      // Every further try fetches a fresh sign. The timestamp sent is always the one
      // fetched with the sign: another worker's fetch must not pair them wrongly.
      for (int attempt = 0; attempt < kTriesPerPhase; ++attempt) {
        if (!WaitWhilePaused(app)) return ProbeOutcome::kUndecided;
        sign = GetSign(app, account, true);
        // A fetch that failed leaves nothing to ask with: the try ends as one without
        // a reply, instead of a request with an empty sign.
        reply = sign.ok ? SendProbe(app, cookies, fsIdList, sign) : std::string();
        if (AfterTry(app, reply, true) == TryVerdict::kDone) break;
      }
      if (Has(reply, kNotBlockedMarker)) return ProbeOutcome::kNotBlocked;
      if (Has(reply, kBlockedMarker)) return ProbeOutcome::kBlocked;
    }

    if (Has(reply, "\\u")) reply = UnescapeReplyText(reply);
    if (Has(reply, kTooLongMarker)) {
      AppendLog(app, L8("检测文件和谐状态时返回了结果：414 Request-URI Too "
                        "Large，可能是线程数设置的太高，尝试降低线程数后再试。"));
      return ProbeOutcome::kUndecided;
    }
    if (Has(reply, kUndeterminedMarker)) {
      AppendLog(app,
                L8("检测文件和谐状态时返回了结果：2， 需要再检测一次，以确认结果正确。。") + reply);
      return ProbeOutcome::kUndecided;
    }
    if (Has(reply, L8("操作频率太快了"))) {
      AppendLog(app, L8("检测文件和谐状态时请求太快，将自动暂停 ") + pauseSecondsText() +
                         L8(" 秒 后再开始，也可能是当前网盘被限制，可24小时后再试。"));
      const int seconds = ParseBoxNumber(pauseSecondsText());
      if (seconds > 0) WaitPumping(app.platform, std::chrono::seconds(seconds));
      continue;
    }
    if (!reply.empty()) {
      AppendLog(app, L8("检测文件和谐状态时返回了未知的结果，需联系我匹配处理。") + reply);
      return ProbeOutcome::kUndecided;
    }
    break;
  }
  if (Has(reply, L8("操作频率太快了"))) {
    AppendLog(app, L8("检测文件和谐状态时请求太快，经过暂停后仍然请求失败。可能是此网盘检测太快，"
                      "等24小时后再试。"));
  }
  return ProbeOutcome::kUndecided;
}

}  // namespace pansift
