// What both LDAP wires share about TLS: the certificates of [Store] CACertFile, and the words
// for each reason a TLS connection is refused, so that the window and tallycmd tell the
// administrator the same thing whichever library made the connection.
#pragma once

#include <string>
#include <vector>

namespace tally::ldap {

enum class TlsRefusal {
    NotTrusted,      // no trusted authority issued the certificate
    NameMismatch,    // the certificate is not made out to the host of the Url
    Expired,         // its validity ended before today
    NotYetValid,     // its validity begins after today
    NotValidNow,     // one of the two, the check not telling which
    CaFileUnusable,  // CACertFile cannot be read or holds no certificate
    Failed,          // the handshake itself failed
};

// "the server's certificate is not trusted ...; set ..." for `refusal`; `detail` (the library's
// or the check's own words, the names the certificate holds) is added where it helps.
std::string TlsRefusalText(TlsRefusal refusal, const std::string& detail);

// The refusal libldap's log of a failed TLS connection tells (its result says only "Can't contact
// LDAP server", whatever the reason), in words; false when the log tells none (the server could
// not be reached at all). Both TLS libraries Debian may link libldap with are read: GnuTLS's
// verification status ("peer cert untrusted or revoked (0x402)") and OpenSSL's verify words.
bool TlsRefusalInLibraryLog(const std::string& log, std::string& text);

// The PEM certificates of a CA file, each "-----BEGIN CERTIFICATE-----" to its END line. False
// with the reason (naming the file) when the file cannot be read or holds none.
bool ReadCaCertificates(const std::string& file, std::vector<std::string>& pemBlocks,
                        std::string& problem);

}  // namespace tally::ldap
