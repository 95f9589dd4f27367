// The sign and timestamp the download probe sends: material fetched from
// /api/gettemplatevariable, the sign computed here, both kept in the cache of
// AppState that every check worker shares.
#pragma once

#include <string>
#include <string_view>

#include "core/credentials.h"

namespace pansift {

struct AppState;

struct SignResult {
  bool ok = false;        // both sign and timestamp are non-empty
  std::string sign;       // Base64 text
  std::string timestamp;  // decimal text, from the same fetch as `sign`
};

/// The cached sign and timestamp; fetches anew with `account`'s cookies when none is
/// cached, the cached one was fetched with another login, or `force` is set. The
/// check and the fetch happen under signLock, so workers that call together share
/// one fetch.
SignResult GetSign(AppState& app, const Credentials& account, bool force);
/// Empties the cache: the next GetSign fetches.
void ClearSignCache(AppState& app);
/// Base64 of RC4 keyed with `key` over `data`; empty for empty data or an empty key.
std::string ComputeSign(std::string_view key, std::string_view data);

/// The URL path and query of one fetch of the sign material.
std::string SignMaterialUrl(std::string_view logId);

}  // namespace pansift
