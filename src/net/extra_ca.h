// Whether a server's certificate chain is vouched for by the extra certificates the
// user chose to trust (PANSIFT_CA_FILE). The embedded login browser asks this when
// its own store rejects a certificate; the system's store is its own business.
#pragma once

#include <string>
#include <vector>

namespace pansift {

/// True when `derChain` (the server's certificate first, DER bytes each) chains to a
/// certificate in the PEM file `caFile`, every certificate is within its validity,
/// and the server's certificate is issued for `host` (a name or an IP address).
/// False for an empty chain, a missing or unreadable file, or any other doubt.
bool ChainTrustedByCaFile(const std::vector<std::string>& derChain, const std::string& host,
                          const std::string& caFile);

/// Why the PEM file `caFile` cannot serve as trusted certificates: the system's
/// reason it cannot be read ("No such file or directory", "Is a directory"), or
/// that it holds no certificate; empty when it can.
std::string CaFileProblem(const std::string& caFile);

/// ChainTrustedByCaFile with the file named by PANSIFT_CA_FILE; false when unset.
bool ChainTrustedByExtraCa(const std::vector<std::string>& derChain, const std::string& host);

}  // namespace pansift
