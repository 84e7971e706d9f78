// The directory server's certificate checked on Windows, as a browser checks a web server's:
// the system's chain engine with the SSL policy, the authorities of CACertFile beside the
// system's, and the program's own check of the name. The TLS tunnel (tls_tunnel_winapi.cpp)
// calls it after the handshake, before anything is sent.
#pragma once

#include <windows.h>

// After <windows.h>, which it needs.
#include <wincrypt.h>

#include <memory>
#include <string>

#include "ldapstore/ldap_wire.h"

namespace tally::ldap {

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using StorePtr = std::unique_ptr<void, StoreClose>;

struct CertFree {
    void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

// The store of CACertFile's certificates; null (and `failure` set) when the file is unusable.
StorePtr LoadCaFile(const std::string& file, LdapOutcome& failure);

// The server's certificate: a chain to an authority of the system's store or of `caStore`,
// valid today, for server use, made out to `host`. Not Ok with the refusal's words
// (kLdapTlsRefused) otherwise.
LdapOutcome CheckCertificate(const CERT_CONTEXT* cert, const std::string& host, HCERTSTORE caStore);

}  // namespace tally::ldap
