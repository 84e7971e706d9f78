// The directory server's certificate checked on Windows (tls_certificate_winapi.h).

// Before <windows.h>, which the header includes: the addresses a certificate may name.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "ldapstore/tls_certificate_winapi.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "ldapstore/ldap_tls.h"

namespace tally::ldap {
namespace {

struct ChainFree {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

LdapOutcome Refused(TlsRefusal refusal, const std::string& detail) {
    return LdapOutcome{kLdapTlsRefused, TlsRefusalText(refusal, detail)};
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int made = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(),
                                         static_cast<int>(wide.size()));
    wide.resize(made > 0 ? static_cast<std::size_t>(made - 1) : 0);
    return wide;
}

struct AltNamesFree {
    void operator()(CERT_ALT_NAME_INFO* names) const { LocalFree(names); }
};

// The names a certificate is made out to: its subject alternative names (DNS names and IP
// addresses, as text), else its common name.
std::vector<std::string> NamesOf(const CERT_CONTEXT* cert) {
    std::vector<std::string> names;
    const CERT_INFO* info = cert->pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* raw = nullptr;
    DWORD size = 0;
    if (extension != nullptr &&
        CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                            extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &raw,
                            &size)) {
        std::unique_ptr<CERT_ALT_NAME_INFO, AltNamesFree> alt(raw);
        for (DWORD i = 0; i < alt->cAltEntry; ++i) {
            const CERT_ALT_NAME_ENTRY& entry = alt->rgAltEntry[i];
            if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
                char text[256] = {};
                WideCharToMultiByte(CP_UTF8, 0, entry.pwszDNSName, -1, text, sizeof text - 1,
                                    nullptr, nullptr);
                names.emplace_back(text);
            } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
                char text[64] = {};
                const int family = entry.IPAddress.cbData == 4    ? AF_INET
                                   : entry.IPAddress.cbData == 16 ? AF_INET6
                                                                  : 0;
                if (family != 0 &&
                    inet_ntop(family, entry.IPAddress.pbData, text, sizeof text) != nullptr) {
                    names.emplace_back(text);
                }
            }
        }
        if (!names.empty()) {
            return names;
        }
    }
    char common[256] = {};
    CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), common,
                       sizeof common);
    if (common[0] != '\0') {
        names.emplace_back(common);
    }
    return names;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// RFC 6125: a name as the certificate holds it, "*" standing for one whole leftmost label.
bool NameMatches(const std::string& pattern, const std::string& host) {
    if (pattern.rfind("*.", 0) == 0) {
        const std::size_t dot = host.find('.');
        return dot != std::string::npos && dot > 0 &&
               SameNoCase(std::string_view(pattern).substr(1), std::string_view(host).substr(dot));
    }
    return SameNoCase(pattern, host);
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text.empty() ? "no name" : text;
}

// The Url's host against the certificate's names; done here rather than by the SSL policy,
// which (as Wine provides it) knows no IP addresses.
LdapOutcome CheckName(const CERT_CONTEXT* cert, const std::string& host) {
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') {
        bare = bare.substr(1, bare.size() - 2);
    }
    in6_addr address{};
    const bool literal = inet_pton(AF_INET, bare.c_str(), &address) == 1 ||
                         inet_pton(AF_INET6, bare.c_str(), &address) == 1;
    const std::vector<std::string> names = NamesOf(cert);
    for (const std::string& name : names) {
        if (literal ? SameNoCase(name, bare) : NameMatches(name, bare)) {
            return {};
        }
    }
    return Refused(TlsRefusal::NameMismatch,
                   "the Url names " + bare + "; the certificate is made out to " + Joined(names));
}

bool IsIn(HCERTSTORE store, const CERT_CONTEXT* cert) {
    if (store == nullptr) {
        return false;
    }
    CertPtr found(
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr));
    return found != nullptr;
}

// Which way the server's own certificate is out of its dates: the chain's status says only that
// some certificate of it is not valid today.
TlsRefusal RefusalOfDates(const CERT_CONTEXT* cert) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (CompareFileTime(&now, &cert->pCertInfo->NotBefore) < 0) {
        return TlsRefusal::NotYetValid;
    }
    if (CompareFileTime(&now, &cert->pCertInfo->NotAfter) > 0) {
        return TlsRefusal::Expired;
    }
    return TlsRefusal::NotValidNow;  // an authority of its chain is the one out of its dates
}

}  // namespace

StorePtr LoadCaFile(const std::string& file, LdapOutcome& failure) {
    std::vector<std::string> blocks;
    std::string problem;
    if (!ReadCaCertificates(file, blocks, problem)) {
        failure = Refused(TlsRefusal::CaFileUnusable, problem);
        return nullptr;
    }
    StorePtr store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    for (const std::string& block : blocks) {
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            continue;
        }
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                 CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
            CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                             CERT_STORE_ADD_ALWAYS, nullptr);
        }
    }
    if (CertEnumCertificatesInStore(store.get(), nullptr) == nullptr) {
        failure =
            Refused(TlsRefusal::CaFileUnusable, file + " holds no certificate that can be read");
        return nullptr;
    }
    return store;
}

LdapOutcome CheckCertificate(const CERT_CONTEXT* cert, const std::string& host,
                             HCERTSTORE caStore) {
    StorePtr pool(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (cert->hCertStore != nullptr) {
        CertAddStoreToCollection(pool.get(), cert->hCertStore, 0, 0);
    }
    if (caStore != nullptr) {
        CertAddStoreToCollection(pool.get(), caStore, 0, 0);
    }
    char serverUse[] = szOID_PKIX_KP_SERVER_AUTH;
    char* uses[] = {serverUse};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = uses;
    const CERT_CHAIN_CONTEXT* rawChain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, pool.get(), &para, 0, nullptr,
                                 &rawChain) ||
        rawChain == nullptr || rawChain->cChain == 0) {
        return Refused(TlsRefusal::NotTrusted, "no chain of authorities could be built");
    }
    ChainPtr chain(rawChain);
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const CERT_CONTEXT* root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    const bool rootFromCaFile = IsIn(caStore, root);
    DWORD errors = chain->TrustStatus.dwErrorStatus;
    // Revocation is not asked for; an authority named in CACertFile is trusted as a root.
    errors &= ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (rootFromCaFile) {
        errors &= ~CERT_TRUST_IS_UNTRUSTED_ROOT;
    }
    // A certificate nobody vouches for is refused as such, whatever its dates say.
    const DWORD unvouched = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
    const DWORD outOfDates = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED;
    if ((errors & outOfDates) != 0 && (errors & unvouched) == 0) {
        return Refused(RefusalOfDates(cert), "");
    }
    if ((errors & ~(unvouched | outOfDates)) == 0 && errors != 0) {
        return Refused(TlsRefusal::NotTrusted, "");
    }
    if (errors != 0) {
        char words[96];
        std::snprintf(words, sizeof words,
                      "issued by an authority that is not trusted, chain "
                      "status 0x%lx",
                      static_cast<unsigned long>(errors));
        return Refused(TlsRefusal::NotTrusted, words);
    }
    std::wstring wideHost = Wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // 0x100 SECURITY_FLAG_IGNORE_UNKNOWN_CA, 0x1000 SECURITY_FLAG_IGNORE_CERT_CN_INVALID: the
    // name is CheckName's.
    ssl.fdwChecks = (rootFromCaFile ? 0x100 : 0) | 0x1000;
    ssl.pwszServerName = wideHost.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = rootFromCaFile ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
        return Refused(TlsRefusal::Failed, "the certificate could not be checked");
    }
    switch (static_cast<HRESULT>(status.dwError)) {
        case S_OK:
        case CERT_E_CN_NO_MATCH:
            return CheckName(cert, host);
        case CERT_E_EXPIRED:
            return Refused(RefusalOfDates(cert), "");
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
            return Refused(TlsRefusal::NotTrusted, "");
        default: {
            char words[64];
            std::snprintf(words, sizeof words, "policy error 0x%08lx",
                          static_cast<unsigned long>(status.dwError));
            return Refused(TlsRefusal::NotTrusted, words);
        }
    }
}

}  // namespace tally::ldap
