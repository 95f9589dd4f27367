// How a request to one of the service's origins is answered: logged as received,
// held while a test holds its login's requests, answered by a fault of its
// endpoint or routed to the endpoint by origin, path and method, and its reply
// written as the wire faults plan it (cut, padded, dropped).
#pragma once

#include <httplib.h>

#include "service.h"

namespace pansift::sim {

void HandleRequest(Service& service, Origin origin, const httplib::Request& request,
                   httplib::Response& response);

}  // namespace pansift::sim
