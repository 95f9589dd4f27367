// The order of query keys: the program writes every URL's keys in one fixed
// order, and the simulator holds it to that order.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "codec.h"

namespace pansift::sim {

/// Why the keys of `query` are not exactly `keys` in that order (a key missing,
/// extra, repeated or out of place), or "" when they are.
std::string CheckKeyOrder(const QueryItems& query, std::initializer_list<std::string_view> keys);

}  // namespace pansift::sim
