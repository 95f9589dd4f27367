#include "key_order.h"

namespace pansift::sim {

std::string CheckKeyOrder(const QueryItems& query, std::initializer_list<std::string_view> keys) {
  size_t at = 0;
  for (std::string_view key : keys) {
    if (at >= query.size()) return "missing key " + std::string(key);
    if (query[at].first != key)
      return "key " + std::to_string(at + 1) + " is '" + query[at].first + "', expected '" +
             std::string(key) + "'";
    ++at;
  }
  if (at < query.size()) return "unexpected key '" + query[at].first + "'";
  return {};
}

}  // namespace pansift::sim
