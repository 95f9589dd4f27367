// The Netdisk origin's endpoints, each in a file of its own:
//   identity_endpoints.cpp  "/" (the web page with the login's user data) and
//                           /mbox/relation/getfollowlist
//   list_endpoint.cpp       /api/list
//   sign_endpoint.cpp       /api/gettemplatevariable (the sign material)
//   download_endpoint.cpp   /api/download (the probe's download links)
//   file_manager_endpoint.cpp  /api/filemanager (delete, move)
//   create_endpoint.cpp     /api/create (a folder)
// The dispatcher calls each under the service's lock, after the endpoint's faults
// had their turn. Each checks the request's form first (query_checks.h), then the
// login, then does the work on the login's own tree.
#pragma once

#include "service.h"

namespace pansift::sim {

Reply AnswerRootPage(Service& service, const Call& call);
Reply AnswerFollowList(Service& service, const Call& call);
Reply AnswerList(Service& service, const Call& call);
Reply AnswerTemplateVariable(Service& service, const Call& call);
/// Notes in call.entry which of DownloadFaults answered, if one did.
Reply AnswerDownload(Service& service, Call& call);
Reply AnswerFileManager(Service& service, const Call& call);
Reply AnswerCreate(Service& service, const Call& call);

}  // namespace pansift::sim
