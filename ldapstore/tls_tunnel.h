// A TLS connection to the directory server whose certificate this program checks itself, for
// the Windows wire: wldap32 as Wine provides it checks neither the server's certificate nor its
// name and ignores the certificate callback, and it hangs reading large answers over TLS. So the
// Windows wire makes the TLS connection here (Schannel), checks the certificate against the
// system's trust store and [Store] CACertFile and the name against the Url's host
// (CertGetCertificateChain, CertVerifyCertificateChainPolicy), and only then lets wldap32 speak
// plain LDAP to a private loopback port whose bytes a thread carries over the TLS connection.
// Nothing reaches the server, the bind least of all, before the check has passed.
//
// Implemented for Windows only (tls_tunnel_winapi.cpp); the native wire has libldap check.
#pragma once

#include <memory>
#include <string>

#include "ldapstore/ldap_wire.h"

namespace tally::ldap {

struct TlsTunnelEndpoint {
    std::string host;
    unsigned short port = 0;
    bool startTls = false;    // ask for StartTLS in plain LDAP first (else TLS from the start)
    std::string caFile;       // extra authorities to trust; empty: the system's only
    int timeoutSeconds = 10;  // to connect, for the handshake, and for each answer awaited
};

class TlsTunnel {
  public:
    virtual ~TlsTunnel() = default;

    // The loopback port that the LDAP library is to connect to.
    virtual unsigned short LocalPort() const = 0;

    // Takes the library's connection to LocalPort() and starts carrying its bytes. `clientPort`
    // is the local port of the library's socket where the library tells it (0 where not): a
    // connection from anywhere else (another program on this machine that raced for the port)
    // is refused. Even unchecked, such a race can only make the connection fail: the library
    // speaks to this tunnel alone, so its bind never reaches the other program.
    virtual LdapOutcome Start(unsigned short clientPort) = 0;
};

// Connects to the server, sets up TLS and checks the certificate. Null with the reason in
// `failure` (kLdapTlsRefused for a refused certificate or CA file, the connection codes for a
// server that cannot be reached).
std::unique_ptr<TlsTunnel> OpenTlsTunnel(const TlsTunnelEndpoint& endpoint, LdapOutcome* failure);

}  // namespace tally::ldap
