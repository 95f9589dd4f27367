#include "faults.h"

namespace pansift::sim {

bool TakeOne(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

void EndpointFaults::reset() {
  latencyMs = 0;
  emptyReplies = 0;
  emptyProbability = 0;
  dropConnections = 0;
  dropProbability = 0;
  cutReplies = 0;
  cutProbability = 0;
  errno2Replies = 0;
  errno2Probability = 0;
  rateLimitRequests = 0;
  rateLimitWindowMs = 1000;
  maxUrlLength = 0;
  cutEvery = 0;
  cutMode = CutMode::Reset;
  stallMs = 20000;
  inflatedBytes = 0;
  setCookies = false;
  redirectAway = RedirectAway::None;
  replies = 0;
}

EndpointFaults* Faults::forEndpoint(std::string_view endpoint) {
  if (endpoint == "/") return &root;
  if (endpoint == "/mbox/relation/getfollowlist") return &followList;
  if (endpoint == "/api/list") return &list;
  if (endpoint == "/api/gettemplatevariable") return &templateVariable;
  if (endpoint == "/api/download") return &download;
  if (endpoint == "/api/filemanager") return &fileManager;
  if (endpoint == "/api/create") return &create;
  if (endpoint == "login") return &login;
  return nullptr;
}

void Faults::failListing(std::string_view folder) {
  std::lock_guard lock(failingMutex_);
  failingListings_.emplace(folder);
}

bool Faults::listingFails(std::string_view folder) const {
  std::lock_guard lock(failingMutex_);
  return failingListings_.find(folder) != failingListings_.end();
}

void Faults::holdRequestsOf(std::string cookies, std::string endpoint) {
  std::lock_guard lock(holdMutex_);
  heldCookies_ = std::move(cookies);
  heldEndpoint_ = std::move(endpoint);
}

void Faults::releaseHeld() {
  {
    std::lock_guard lock(holdMutex_);
    heldCookies_.clear();
  }
  holdChanged_.notify_all();
}

int Faults::heldRequests() const {
  std::lock_guard lock(holdMutex_);
  return held_;
}

void Faults::waitWhileHeld(std::string_view cookies, std::string_view endpoint) {
  std::unique_lock lock(holdMutex_);
  auto held = [&] {
    return !heldCookies_.empty() && cookies == heldCookies_ &&
           (heldEndpoint_.empty() || endpoint == heldEndpoint_);
  };
  if (!held()) return;
  ++held_;
  holdChanged_.wait(lock, [&] { return !held(); });
  --held_;
}

void Faults::reset() {
  {
    std::lock_guard lock(failingMutex_);
    failingListings_.clear();
  }
  releaseHeld();
  for (EndpointFaults* f : {static_cast<EndpointFaults*>(&root), &followList, &list,
                            &templateVariable, static_cast<EndpointFaults*>(&download),
                            static_cast<EndpointFaults*>(&fileManager), &create, &login}) {
    f->reset();
  }
  root.redirect = RootRedirect::Both;
  root.deadLoginToPassport = false;
  root.withoutUk = false;
  download.signUses = 0;
  download.signMaxAgeSeconds = 0;
  download.refusedSigns = 0;
  download.unknownReplies = 0;
  download.rateLimitReplies = 0;
  fileManager.busyDeletes = 0;
  fileManager.busyCode = 111;
  fileManager.identityCheck = false;
}

}  // namespace pansift::sim
