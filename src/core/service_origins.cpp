#include "core/service_origins.h"

#include <cstdlib>

namespace pansift {
namespace {

std::string FromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return TrimOrigin(value && *value ? value : fallback);
}

}  // namespace

std::string TrimOrigin(std::string origin) {
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  return origin;
}

ServiceOrigins OriginsFromEnvironment() {
  return {FromEnv("PANSIFT_NETDISK_ORIGIN", "https://pan.baidu.com"),
          FromEnv("PANSIFT_PASSPORT_ORIGIN", "https://passport.baidu.com"),
          FromEnv("PANSIFT_PORTAL_ORIGIN", "https://www.baidu.com")};
}

}  // namespace pansift
