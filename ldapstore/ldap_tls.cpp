#include "ldapstore/ldap_tls.h"

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
