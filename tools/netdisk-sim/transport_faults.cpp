#include "transport_faults.h"

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace pansift::sim {
namespace {

constexpr size_t kChunk = 64 * 1024;

bool AcceptsGzip(const httplib::Request& req) {
  return req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
}

// gzip of `body` followed by `padding` blanks, made chunk by chunk: a body of
// hundreds of megabytes costs a few hundred kilobytes here.
std::string GzipWithPadding(const std::string& body, std::uint64_t padding) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    return {};
  std::string out;
  const std::string blanks(kChunk, ' ');
  char buffer[kChunk];
  auto feed = [&](const char* data, size_t size, int flush) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs.avail_in = static_cast<uInt>(size);
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buffer);
      zs.avail_out = sizeof buffer;
      deflate(&zs, flush);
      out.append(buffer, sizeof buffer - zs.avail_out);
    } while (zs.avail_out == 0);
  };
  feed(body.data(), body.size(), Z_NO_FLUSH);
  while (padding > 0) {
    size_t n = static_cast<size_t>(std::min<std::uint64_t>(padding, kChunk));
    feed(blanks.data(), n, Z_NO_FLUSH);
    padding -= n;
  }
  feed(nullptr, 0, Z_FINISH);
  deflateEnd(&zs);
  return out;
}

// Closing with a zero linger time sends a reset instead of an orderly end.
void ArmReset(const httplib::Request& req) {
  if (!req.ssl) return;
  int fd = SSL_get_fd(req.ssl);
  linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

}  // namespace

std::string WirePlan::describe() const {
  std::string text;
  auto add = [&text](const std::string& piece) { text += (text.empty() ? "" : ", ") + piece; };
  if (cut) add(cutMode == CutMode::Stall ? "cut (stall)" : "cut");
  if (inflatedBytes > 0) add("inflated " + std::to_string(inflatedBytes));
  if (setCookies) add("set-cookie");
  return text;
}

WirePlan PlanWire(EndpointFaults& faults) {
  WirePlan plan;
  std::uint64_t n = faults.replies.fetch_add(1) + 1;
  int every = faults.cutEvery.load();
  plan.cut =
      TakeOne(faults.cutReplies) || (every > 0 && n % static_cast<std::uint64_t>(every) == 0);
  plan.cutMode = faults.cutMode.load();
  plan.stallMs = faults.stallMs.load();
  plan.inflatedBytes = faults.inflatedBytes.load();
  plan.setCookies = faults.setCookies.load();
  return plan;
}

std::vector<std::string> FaultCookies() {
  return {"PANWEB=1; expires=Fri, 01 Jan 2100 00:00:00 GMT; path=/",
          "csrfToken=sim-csrf-token; path=/; secure"};
}

void WriteWireReply(const WirePlan& plan, const httplib::Request& req, httplib::Response& res,
                    int status, const std::string& body, const std::string& contentType,
                    const std::vector<std::pair<std::string, std::string>>& headers,
                    const std::atomic<bool>& stopping) {
  res.status = status;
  for (const auto& [name, value] : headers) res.headers.emplace(name, value);
  if (plan.setCookies) {
    for (const std::string& cookie : FaultCookies()) res.headers.emplace("Set-Cookie", cookie);
  }
  std::uint64_t padding = plan.inflatedBytes > body.size() ? plan.inflatedBytes - body.size() : 0;
  if (!plan.cut && padding == 0) {
    res.set_content(body, contentType);
    return;
  }
  auto head = std::make_shared<std::string>(body);
  if (padding > 0 && AcceptsGzip(req)) {
    *head = GzipWithPadding(body, padding);
    padding = 0;
    res.set_header("Content-Encoding", "gzip");
  }
  // A provider with a length: the declared Content-Length stays the whole body, so
  // a cut reply is visibly short.
  std::uint64_t total = head->size() + padding;
  std::uint64_t stop = plan.cut ? total / 2 : total;
  res.set_content_provider(
      static_cast<size_t>(total), contentType,
      [head, stop, plan, &req, &stopping](size_t offset, size_t, httplib::DataSink& sink) {
        if (offset >= stop) {
          if (plan.cutMode == CutMode::Stall) {
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(plan.stallMs);
            while (!stopping.load() && std::chrono::steady_clock::now() < until)
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
          ArmReset(req);
          return false;
        }
        size_t n = static_cast<size_t>(std::min<std::uint64_t>(kChunk, stop - offset));
        if (offset < head->size()) {
          n = std::min(n, head->size() - offset);
          return sink.write(head->data() + offset, n);
        }
        static const std::string kBlanks(kChunk, ' ');
        return sink.write(kBlanks.data(), n);
      });
}

std::string AwayLocation(RedirectAway away, const AwayOrigins& origins, const std::string& target) {
  switch (away) {
    case RedirectAway::None:
      return {};
    case RedirectAway::Foreign:
      return origins.foreign + target;
    case RedirectAway::PlainHttp:
      // "https://" further on in the URL must not make it look like a safe one.
      return origins.plainHttp + target + (target.find('?') == std::string::npos ? "?" : "&") +
             "back=" + origins.netdisk + "/disk/main";
    case RedirectAway::Loop:
      return target;
  }
  return {};
}

}  // namespace pansift::sim
