// The download-link probe: asks the service for the download links of a batch of
// files and reads from the answer whether the batch holds a blocked file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/credentials.h"

namespace pansift {

struct AppState;

enum class ProbeOutcome {
  kNotBlocked,  // the service would hand out a link for every file of the batch
  kBlocked,     // it refused a link: the batch holds a blocked file
  kUndecided,   // no answer either way (stopped, retries used up, unknown answer)
};

/// Probes the `fs_id` values of `fsIdList` ("1,2,3"), files of `account`, with its
/// cookies and the shared sign fetched with them. `pauseSecondsText` gives the
/// current text of the automatic-pause box, read when the service says requests
/// come too fast. Polls app.paused and app.stopRequested before every request; a
/// stop is kUndecided, and so is a list that is not digits joined by commas (it is
/// never sent).
ProbeOutcome ProbeDownload(AppState& app, const Credentials& account, std::string_view fsIdList,
                           const std::function<std::string()>& pauseSecondsText);

/// The URL path and query of one probe request.
std::string ProbeUrl(std::string_view fsIdList, std::string_view sign, std::string_view timestamp,
                     std::string_view logId);

}  // namespace pansift
