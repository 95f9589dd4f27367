#include "sign_book.h"

#include <algorithm>

#include "codec.h"

namespace pansift::sim {
namespace {

constexpr size_t kKept = 1024;

std::string DrawHex(std::mt19937_64& rng, size_t n) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) out += hex[rng() % 16];
  return out;
}

}  // namespace

SignBook::Material SignBook::issue(std::mt19937_64& rng, std::int64_t nowSeconds) {
  Material m;
  m.sign1 = DrawHex(rng, 40);
  m.sign3 = DrawHex(rng, 32);
  m.timestamp = std::max(nowSeconds, lastTimestamp_ + 1);
  lastTimestamp_ = m.timestamp;
  issued_.push_back({ComputeSign(m.sign3, m.sign1), m.timestamp});
  if (issued_.size() > kKept) issued_.pop_front();
  return m;
}

SignBook::Verdict SignBook::check(std::string_view sign, std::int64_t timestamp,
                                  std::int64_t nowSeconds, int maxUses, int maxAgeSeconds) {
  auto it =
      std::find_if(issued_.begin(), issued_.end(), [&](const Issued& i) { return i.sign == sign; });
  if (it == issued_.end()) return Verdict::kUnknown;
  if (it->timestamp != timestamp) {
    bool someFetch = std::any_of(issued_.begin(), issued_.end(),
                                 [&](const Issued& i) { return i.timestamp == timestamp; });
    return someFetch ? Verdict::kForeignTimestamp : Verdict::kUnknown;
  }
  if (it->retired) return Verdict::kExpired;
  if (maxAgeSeconds > 0 && nowSeconds - timestamp > maxAgeSeconds) return Verdict::kExpired;
  if (maxUses > 0 && ++it->uses >= maxUses) it->retired = true;
  return Verdict::kAccepted;
}

}  // namespace pansift::sim
