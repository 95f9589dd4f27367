// The signs of one login: every fetch of the sign material issues a new sign with
// a timestamp of its own, and a download is accepted only with a pair that one
// fetch issued together.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>

namespace pansift::sim {

class SignBook {
 public:
  struct Material {
    std::string sign1;  // data of the sign
    std::string sign3;  // key of the sign
    std::int64_t timestamp = 0;
  };
  enum class Verdict {
    kAccepted,
    kExpired,           // used up or too old: errno 112
    kUnknown,           // never issued, or the timestamp of no fetch: errno 113
    kForeignTimestamp,  // issued, but sent with another fetch's timestamp: errno 113
  };

  /// A new sign; its timestamp is `nowSeconds`, or one past the last one issued so
  /// that no two fetches share a timestamp.
  Material issue(std::mt19937_64& rng, std::int64_t nowSeconds);
  /// Judges a download's sign and timestamp. `maxUses` > 0 retires a sign after that
  /// many accepted uses; `maxAgeSeconds` > 0 refuses older timestamps.
  Verdict check(std::string_view sign, std::int64_t timestamp, std::int64_t nowSeconds, int maxUses,
                int maxAgeSeconds);

 private:
  struct Issued {
    std::string sign;
    std::int64_t timestamp = 0;
    int uses = 0;
    bool retired = false;
  };
  std::deque<Issued> issued_;  // oldest first, bounded
  std::int64_t lastTimestamp_ = 0;
};

}  // namespace pansift::sim
