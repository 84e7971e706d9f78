// A TLS connection to the directory server whose certificate this program checks itself, for
// the Windows wire: wldap32 as Wine provides it checks neither the server's certificate nor its
// name and ignores the certificate callback, and it hangs reading large answers over TLS. So the
// Windows wire makes the TLS connection here (Schannel), checks the certificate against the
// system's trust store and [Store] CACertFile and the name against the Url's host
// (CertGetCertificateChain, CertVerifyCertificateChainPolicy), and only then lets wldap32 speak
// plain LDAP to a private loopback port whose bytes a thread carries over the TLS connection.
// Nothing reaches the server, the bind least of all, before the check has passed.
//
// A plain ldap:// connection goes through the same relay, without TLS: so that the wire can read
// search results itself on the one connection (ldap_protocol.h) while wldap32 waits for
// nothing, instead of through wldap32, which under Wine costs dozens of wineserver calls for
// every entry; and send a batch's modifies itself, several on their way at once, their answers
// kept apart from the library's by their message IDs. The server sees one connection and one
// bind either way.
//
// Implemented for Windows only (tls_tunnel_winapi.cpp); the native wire has libldap check.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ldapstore/ldap_bind.h"
#include "ldapstore/ldap_protocol.h"
#include "ldapstore/ldap_wire.h"

namespace tally::ldap {

struct TlsTunnelEndpoint {
    std::string host;
    unsigned short port = 0;
    bool tls = true;          // false: a plain relay, nothing checked
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

    // One search request sent and answered on the server connection by the relay itself, for
    // a caller whose library waits for no answer meanwhile: the entries found, in order, and
    // the final result in `done`. The outcome is not Ok only when the connection failed or the
    // server stayed silent for the Timeout (or its answer cannot be read): the connection is
    // then closed for the library too, which finds it lost at its next request.
    virtual LdapOutcome RunSearch(const SearchRequest& request, std::vector<LdapEntry>& entries,
                                  SearchAnswer& done) = 0;
    // A modify the relay sends itself on the server connection, ahead of its answer: a batch
    // keeps several on their way. TakeModify ends the oldest one sent with the server's answer
    // (SearchAnswer::Kind::Modified, its Post-Read entry in `entry`); answers that arrive while
    // the relay or the library reads for something else wait for their take. Not Ok as for a
    // search: the connection failed, or the answer did not come within the Timeout.
    virtual LdapOutcome SendModify(const std::string& dn, const std::vector<LdapMod>& mods,
                                   const std::vector<std::string>& readBack) = 0;
    virtual LdapOutcome TakeModify(SearchAnswer& answer) = 0;
    // A simple bind the relay sends itself on the server connection, once the library's own
    // connection is taken (the library has had an answer through the relay): the password goes
    // from `password` into one request buffer, wiped once sent, and no library ever holds it.
    // The server's answer in `answer`; not Ok as for a search.
    virtual LdapOutcome RunBind(const std::string& dn, std::string_view password,
                                BindAnswer& answer) = 0;
};

// Connects to the server, sets up TLS and checks the certificate (with `endpoint.tls`). Null with
// the reason in `failure` (kLdapTlsRefused for a refused certificate or CA file, the connection
// codes for a server that cannot be reached).
std::unique_ptr<TlsTunnel> OpenTlsTunnel(const TlsTunnelEndpoint& endpoint, LdapOutcome* failure);

}  // namespace tally::ldap
