// What both back ends need from libcurl before and around every handle: the
// one-time global set-up and the certificates a server must chain to.
#pragma once

#include <curl/curl.h>

namespace pansift {

/// Initialises libcurl once per process; safe to call from any thread.
void EnsureCurlGlobalInit();

/// Makes the handle verify the server against the system's CA store, plus the
/// certificates in the PEM file named by PANSIFT_CA_FILE when that is set and
/// readable. Verification of certificate and host name is switched on here.
void ApplyTrustedCertificates(CURL* handle);

}  // namespace pansift
