#include "ldapstore/ldap_tls.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tally::ldap {

std::string TlsRefusalText(TlsRefusal refusal, const std::string& detail) {
    const std::string more = detail.empty() ? std::string() : " (" + detail + ")";
    switch (refusal) {
        case TlsRefusal::NotTrusted:
            return "the server's certificate is not trusted: no certificate authority of this "
                   "computer or of [Store] CACertFile issued it" +
                   more + "; set CACertFile to the PEM file of the authority that did";
        case TlsRefusal::NameMismatch:
            return "the server's certificate does not match the name in [Store] Url" + more +
                   "; write the server's name in Url as its certificate holds it";
        case TlsRefusal::Expired:
            return "the server's certificate has expired" + more +
                   "; the server needs a current certificate";
        case TlsRefusal::NotYetValid:
            return "the server's certificate is not valid yet" + more +
                   "; check this computer's date, or give the server a current certificate";
        case TlsRefusal::NotValidNow:
            return "the server's certificate has expired or is not valid yet" + more +
                   "; the server needs a current certificate";
        case TlsRefusal::CaFileUnusable:
            return "[Store] CACertFile " + detail +
                   "; name a PEM file of the certificate authority that issued the server's "
                   "certificate";
        case TlsRefusal::Failed:
            break;
    }
    return "TLS could not be set up with the server" + more;
}

namespace {

// The line of the log that holds `marker`, from the start of its "TLS: " (or of the marker),
// without its end.
std::string LineWith(const std::string& log, const char* marker) {
    const std::size_t at = log.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t lineStart = log.rfind('\n', at);
    std::size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
    const std::size_t tls = log.find("TLS: ", from);
    from = tls != std::string::npos && tls <= at ? tls + 5 : at;
    std::string line = log.substr(from, log.find('\n', at) - from);
    while (!line.empty() && (line.back() == '.' || line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// GnuTLS's verification status bits, as libldap writes them after "peer cert untrusted or
// revoked": the signer unknown (0x40) or not an authority (0x80) outweighs the dates, since a
// certificate nobody vouches for is refused whatever its dates say.
TlsRefusal RefusalOfGnuTlsStatus(unsigned long status) {
    constexpr unsigned long kSignerNotFound = 0x40, kSignerNotCa = 0x80;
    constexpr unsigned long kNotActivated = 0x200, kExpired = 0x400;
    if ((status & (kSignerNotFound | kSignerNotCa)) != 0) {
        return TlsRefusal::NotTrusted;
    }
    if ((status & kExpired) != 0) {
        return TlsRefusal::Expired;
    }
    if ((status & kNotActivated) != 0) {
        return TlsRefusal::NotYetValid;
    }
    return TlsRefusal::NotTrusted;
}

}  // namespace

bool TlsRefusalInLibraryLog(const std::string& log, std::string& text) {
    struct Sign {
        const char* marker;
        TlsRefusal refusal;
        bool withLine;  // the library's line tells the administrator something more
    };
    static const Sign kSigns[] = {
        {"TLS: hostname", TlsRefusal::NameMismatch, true},
        {"TLS: could not use CA certificate file", TlsRefusal::CaFileUnusable, true},
        // OpenSSL: "certificate verify failed (certificate has expired)".
        {"certificate has expired", TlsRefusal::Expired, false},
        {"certificate is not yet valid", TlsRefusal::NotYetValid, false},
        {"certificate verify failed", TlsRefusal::NotTrusted, false},
        // GnuTLS has no words for the code libldap's own chain check fails with.
        {"TLS: can't connect: (unknown error code)", TlsRefusal::NotTrusted, false},
        {"TLS:", TlsRefusal::Failed, true},
    };
    static const char kGnuTlsStatus[] = "TLS: peer cert untrusted or revoked (0x";
    const std::size_t status = log.find(kGnuTlsStatus);
    if (status != std::string::npos) {
        const unsigned long bits =
            std::strtoul(log.c_str() + status + sizeof kGnuTlsStatus - 1, nullptr, 16);
        text = TlsRefusalText(RefusalOfGnuTlsStatus(bits), "");
        return true;
    }
    for (const Sign& sign : kSigns) {
        const std::string line = LineWith(log, sign.marker);
        if (!line.empty()) {
            text = TlsRefusalText(sign.refusal, sign.withLine ? line : std::string());
            return true;
        }
    }
    return false;
}

bool ReadCaCertificates(const std::string& file, std::vector<std::string>& pemBlocks,
                        std::string& problem) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        problem = file + " cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        problem = file + " cannot be read";
        return false;
    }
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    const std::string all = text.str();
    pemBlocks.clear();
    for (std::size_t at = all.find(kBegin); at != std::string::npos;
         at = all.find(kBegin, at + kBegin.size())) {
        const std::size_t end = all.find(kEnd, at);
        if (end == std::string::npos) {
            break;
        }
        pemBlocks.push_back(all.substr(at, end + kEnd.size() - at) + "\n");
    }
    if (pemBlocks.empty()) {
        problem = file + " holds no PEM certificate";
        return false;
    }
    return true;
}

}  // namespace tally::ldap
