#include "request_log.h"

#include <httplib.h>
#include <strings.h>

namespace pansift::sim {

std::string LoggedRequest::header(std::string_view name) const {
  for (const auto& [k, v] : headers) {
    if (k.size() == name.size() && strncasecmp(k.data(), name.data(), k.size()) == 0) return v;
  }
  return {};
}

LoggedRequest ReceivedRequest(Origin origin, const httplib::Request& request) {
  LoggedRequest entry;
  entry.origin = origin;
  entry.method = request.method;
  entry.target = request.target;
  size_t q = request.target.find('?');
  entry.path = request.target.substr(0, q);
  entry.query = q == std::string::npos ? "" : request.target.substr(q + 1);
  entry.body = request.body;
  entry.cookies = request.get_header_value("Cookie");
  for (const auto& [k, v] : request.headers) entry.headers.emplace_back(k, v);
  return entry;
}

namespace {

// A rejected request as the end-of-test check names it; long targets and bodies
// (a big probe batch) cut short.
std::string DescribeRejection(const LoggedRequest& request) {
  constexpr size_t kShown = 300;
  auto cut = [](const std::string& text) {
    return text.size() <= kShown ? text : text.substr(0, kShown) + "...";
  };
  std::string text = request.method + " " + cut(request.target);
  if (!request.body.empty()) text += " [" + cut(request.body) + "]";
  return text + ": " + request.rejection;
}

}  // namespace

void RequestLog::add(LoggedRequest request) {
  std::lock_guard lock(mutex_);
  ++counts_[request.endpoint];
  ++total_;
  if (!request.rejection.empty()) {
    ++rejected_;
    if (++rejectionsSinceStart_ <= kRejectionsNamed)
      rejections_.push_back(DescribeRejection(request));
  }
  entries_.push_back(std::move(request));
  while (entries_.size() > limit_) entries_.pop_front();
}

std::vector<LoggedRequest> RequestLog::entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

std::vector<LoggedRequest> RequestLog::entries(std::string_view endpoint) const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedRequest> out;
  for (const LoggedRequest& r : entries_) {
    if (r.endpoint == endpoint) out.push_back(r);
  }
  return out;
}

std::optional<LoggedRequest> RequestLog::last(std::string_view endpoint) const {
  std::lock_guard lock(mutex_);
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (endpoint.empty() || it->endpoint == endpoint) return *it;
  }
  return std::nullopt;
}

std::uint64_t RequestLog::count(std::string_view endpoint) const {
  std::lock_guard lock(mutex_);
  auto it = counts_.find(endpoint);
  return it == counts_.end() ? 0 : it->second;
}

std::uint64_t RequestLog::total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

std::uint64_t RequestLog::rejected() const {
  std::lock_guard lock(mutex_);
  return rejected_;
}

std::vector<std::string> RequestLog::rejections() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> named = rejections_;
  if (rejectionsSinceStart_ > named.size()) {
    named.push_back("... and " + std::to_string(rejectionsSinceStart_ - named.size()) +
                    " more rejected");
  }
  return named;
}

void RequestLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  counts_.clear();
  total_ = 0;
  rejected_ = 0;
}

void RequestLog::setLimit(size_t limit) {
  std::lock_guard lock(mutex_);
  limit_ = limit;
  while (entries_.size() > limit_) entries_.pop_front();
}

}  // namespace pansift::sim
