// The LDAP operations over the system's LDAP library, wldap32 (ANSI entry points).
#include <winsock2.h>
#include <windows.h>

// After <windows.h>, which they need; winber.h after winldap.h, which defines BerElement.
#include <winldap.h>
// clang-format off
#include <winber.h>
// clang-format on

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "ldapstore/ldap_wire.h"
#include "ldapstore/tls_tunnel.h"

namespace tally::ldap {
namespace {

// wldap32 has no name for the increment modification (RFC 4525); its value goes on the wire as
// given.
constexpr ULONG kModIncrement = 3;

struct MessageFree {
    void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;

struct MemFree {
    void operator()(char* text) const { ldap_memfreeA(text); }
};
using TextPtr = std::unique_ptr<char, MemFree>;

struct ReferralsFree {
    void operator()(char** urls) const { ldap_value_freeA(urls); }
};

struct ControlsFree {
    void operator()(LDAPControlA** controls) const { ldap_controls_freeA(controls); }
};
using ControlsPtr = std::unique_ptr<LDAPControlA*, ControlsFree>;

struct BervalFree {
    void operator()(berval* value) const { ber_bvfree(value); }
};
using BervalPtr = std::unique_ptr<berval, BervalFree>;

struct UnbindLdap {
    void operator()(LDAP* ld) const { ldap_unbind(ld); }
};
using LdapPtr = std::unique_ptr<LDAP, UnbindLdap>;

char* Text(const std::string& text) {
    return const_cast<char*>(text.c_str());
}

std::string ServerWords(LDAP* ld) {
    char* text = nullptr;
    if (ld == nullptr || ldap_get_option(ld, LDAP_OPT_SERVER_ERROR, &text) != LDAP_SUCCESS ||
        text == nullptr) {
        return {};
    }
    TextPtr owned(text);
    return std::string(text);
}

LdapOutcome Outcome(LDAP* ld, ULONG code, const char* serverText = nullptr) {
    LdapOutcome outcome;
    outcome.code = static_cast<int>(code);
    if (code != LDAP_SUCCESS) {
        const char* text = ldap_err2stringA(code);
        outcome.message = text != nullptr ? text : "LDAP error " + std::to_string(code);
        std::string words = serverText != nullptr ? std::string(serverText) : ServerWords(ld);
        if (!words.empty()) {
            outcome.message += " (" + words + ")";
        }
    }
    return outcome;
}

class ModArrays {
  public:
    explicit ModArrays(const std::vector<LdapMod>& mods) {
        for (const LdapMod& mod : mods) {
            for (const std::string& value : mod.values) {
                vals_.push_back(berval{static_cast<ULONG>(value.size()), Text(value)});
            }
        }
        values_.resize(mods.size());
        std::size_t next = 0;
        for (std::size_t i = 0; i < mods.size(); ++i) {
            for (std::size_t v = 0; v < mods[i].values.size(); ++v) {
                values_[i].push_back(&vals_[next++]);
            }
            values_[i].push_back(nullptr);
        }
        structs_.resize(mods.size());
        for (std::size_t i = 0; i < mods.size(); ++i) {
            LDAPModA& mod = structs_[i];
            std::memset(&mod, 0, sizeof mod);
            mod.mod_op = OpOf(mods[i].op) | LDAP_MOD_BVALUES;
            mod.mod_type = Text(mods[i].attribute);
            mod.mod_vals.modv_bvals = values_[i].data();
            pointers_.push_back(&mod);
        }
        pointers_.push_back(nullptr);
    }
    LDAPModA** Get() { return pointers_.data(); }

  private:
    static ULONG OpOf(LdapModOp op) {
        switch (op) {
            case LdapModOp::Add:
                return LDAP_MOD_ADD;
            case LdapModOp::Delete:
                return LDAP_MOD_DELETE;
            case LdapModOp::Replace:
                return LDAP_MOD_REPLACE;
            case LdapModOp::Increment:
                return kModIncrement;
        }
        return LDAP_MOD_REPLACE;
    }
    std::vector<berval> vals_;
    std::vector<std::vector<berval*>> values_;
    std::vector<LDAPModA> structs_;
    std::vector<LDAPModA*> pointers_;
};

class WinLdapWire final : public LdapWire {
  public:
    WinLdapWire(std::unique_ptr<TlsTunnel> tunnel, LdapPtr ld, int timeoutSeconds)
        : tunnel_(std::move(tunnel)),
          ld_(std::move(ld)),
          timeout_{static_cast<LONG>(timeoutSeconds), 0} {}

    // wldap32 copies a password into buffers of its own (a conversion, the encoded request) and
    // frees them unwiped: a refused password lay in memory while the program told the refusal.
    // So wldap32 binds anonymously, which opens its connection through the relay (whatever the
    // server answers: a server that takes no anonymous login still answers), and the relay then
    // makes the login itself from the caller's buffer.
    LdapOutcome Bind(const std::string& dn, std::string_view password) override {
        const LdapOutcome anonymous =
            Await(LDAP_SUCCESS, ldap_simple_bindA(ld_.get(), nullptr, nullptr));
        if (dn.empty() || anonymous.ConnectionLost() || anonymous.code == kLdapTlsRefused) {
            return anonymous;
        }
        BindAnswer answer;
        if (const LdapOutcome sent = tunnel_->RunBind(dn, password, answer); !sent.Ok()) {
            return sent;
        }
        return Outcome(nullptr, static_cast<ULONG>(answer.resultCode), answer.diagnostic.c_str());
    }

    LdapOutcome Search(const std::string& base, LdapScope scope, const std::string& filter,
                       const std::vector<std::string>& attributes, std::uint32_t pageSize,
                       const std::function<void(LdapEntry&&)>& take) override {
        return SearchThroughRelay(base, scope, filter, attributes, pageSize, take);
    }

    LdapOutcome Modify(const std::string& dn, const std::vector<LdapMod>& mods) override {
        ModArrays arrays(mods);
        ULONG messageId = 0;
        ULONG code =
            ldap_modify_extA(ld_.get(), Text(dn), arrays.Get(), nullptr, nullptr, &messageId);
        return Await(code, messageId);
    }

    // Modifies with the Post-Read control go through the relay (tls_tunnel.h), which encodes
    // them itself and keeps several on their way for a batch; wldap32 makes the others.
    LdapOutcome ModifyAndRead(const std::string& dn, const std::vector<LdapMod>& mods,
                              const std::vector<std::string>& readBack, LdapEntry& after) override {
        after = LdapEntry{};
        const LdapOutcome sent = SendModifyAndRead(dn, mods, readBack);
        return sent.Ok() ? TakeModifyAnswer(after) : sent;
    }

    bool SendsAhead() const override { return true; }

    LdapOutcome SendModifyAndRead(const std::string& dn, const std::vector<LdapMod>& mods,
                                  const std::vector<std::string>& readBack) override {
        return tunnel_->SendModify(dn, mods, readBack);
    }

    LdapOutcome TakeModifyAnswer(LdapEntry& after) override {
        after = LdapEntry{};
        SearchAnswer answer;
        if (LdapOutcome taken = tunnel_->TakeModify(answer); !taken.Ok()) {
            return taken;
        }
        if (answer.resultCode != LDAP_SUCCESS) {
            LdapOutcome outcome =
                Outcome(nullptr, static_cast<ULONG>(answer.resultCode), answer.diagnostic.c_str());
            outcome.referral = answer.referral;
            return outcome;
        }
        after = std::move(answer.entry);
        return {};
    }

    LdapOutcome WhoAmI(std::string& authzId) override {
        authzId.clear();
        char* rawOid = nullptr;
        berval* rawIdentity = nullptr;
        const ULONG code =
            ldap_extended_operation_sA(ld_.get(), const_cast<char*>(kWhoAmIOperation), nullptr,
                                       nullptr, nullptr, &rawOid, &rawIdentity);
        TextPtr oid(rawOid);
        BervalPtr identity(rawIdentity);
        if (code == LDAP_SUCCESS && identity && identity->bv_val != nullptr) {
            authzId.assign(identity->bv_val, identity->bv_len);
        }
        return Outcome(ld_.get(), code);
    }

    LdapOutcome Add(const std::string& dn, const std::vector<LdapMod>& attributes) override {
        ModArrays arrays(attributes);
        ULONG messageId = 0;
        ULONG code = ldap_add_extA(ld_.get(), Text(dn), arrays.Get(), nullptr, nullptr, &messageId);
        return Await(code, messageId);
    }

    LdapOutcome Delete(const std::string& dn) override {
        ULONG messageId = 0;
        ULONG code = ldap_delete_extA(ld_.get(), Text(dn), nullptr, nullptr, &messageId);
        return Await(code, messageId);
    }

  private:
    // Searches are read by the relay itself on the library's connection (tls_tunnel.h), a page
    // at a time: wldap32 under Wine costs dozens of wineserver calls for every entry.
    LdapOutcome SearchThroughRelay(const std::string& base, LdapScope scope,
                                   const std::string& filter,
                                   const std::vector<std::string>& attributes,
                                   std::uint32_t pageSize,
                                   const std::function<void(LdapEntry&&)>& take) {
        SearchRequest request{
            base, scope, filter, attributes, static_cast<int>(timeout_.tv_sec), pageSize, {}};
        while (true) {
            std::vector<LdapEntry> entries;
            SearchAnswer done;
            if (LdapOutcome ran = tunnel_->RunSearch(request, entries, done); !ran.Ok()) {
                return ran.code == kLdapFilterError
                           ? Outcome(nullptr, LDAP_FILTER_ERROR, ran.message.c_str())
                           : ran;
            }
            for (LdapEntry& entry : entries) {
                take(std::move(entry));
            }
            if (done.resultCode != LDAP_SUCCESS) {
                LdapOutcome outcome =
                    Outcome(nullptr, static_cast<ULONG>(done.resultCode), done.diagnostic.c_str());
                outcome.referral = done.referral;
                return outcome;
            }
            if (pageSize == 0 || !done.pageCookie || done.pageCookie->empty()) {
                return {};
            }
            request.cookie = *done.pageCookie;
        }
    }

    // The answer to request `messageId` (sent with `code`), awaited for the Timeout at most:
    // the synchronous entry points of wldap32 wait for ever on a server that went silent.
    // `controls`, where given, receives the answer's controls (a post-read entry, say).
    LdapOutcome Await(ULONG code, ULONG messageId, ControlsPtr* controls = nullptr) {
        if (code != LDAP_SUCCESS) {
            return Outcome(ld_.get(), code);
        }
        if (messageId == static_cast<ULONG>(-1)) {
            return Unsent();
        }
        LDAPMessage* raw = nullptr;
        l_timeval limit = timeout_;
        const ULONG got = ldap_result(ld_.get(), messageId, LDAP_MSG_ALL, &limit, &raw);
        MessagePtr result(raw);
        if (got == 0) {
            ldap_abandon(ld_.get(), messageId);
            return LdapOutcome{
                kLdapTimeout,
                "Timed out (no answer within " + std::to_string(timeout_.tv_sec) + " seconds)",
                {}};
        }
        if (got == static_cast<ULONG>(-1) || !result) {
            return Unsent();
        }
        ULONG resultCode = 0;
        char* words = nullptr;
        char** referrals = nullptr;
        LDAPControlA** rawControls = nullptr;
        code = ldap_parse_resultA(ld_.get(), result.get(), &resultCode, nullptr, &words, &referrals,
                                  controls != nullptr ? &rawControls : nullptr, FALSE);
        ControlsPtr ownedControls(rawControls);
        if (controls != nullptr) {
            *controls = std::move(ownedControls);
        }
        TextPtr ownedWords(words);
        std::unique_ptr<char*, ReferralsFree> ownedReferrals(referrals);
        if (code == LDAP_LOCAL_ERROR || resultCode == LDAP_LOCAL_ERROR) {
            // No answer from the server: Wine's wldap32 tells a failed connection so.
            return Outcome(nullptr, LDAP_SERVER_DOWN);
        }
        if (code != LDAP_SUCCESS) {
            return Outcome(ld_.get(), code);
        }
        LdapOutcome outcome = Outcome(nullptr, resultCode, words != nullptr ? words : "");
        if (referrals != nullptr && referrals[0] != nullptr) {
            outcome.referral = referrals[0];
        }
        return outcome;
    }

    // A request that could not be sent or whose answer could not be read: the connection
    // failed (wldap32 connects at the first request; Wine's tells a server that is not there
    // by a socket error such as WSAENOTCONN in LdapGetLastError).
    static LdapOutcome Unsent() { return Outcome(nullptr, LDAP_SERVER_DOWN); }

    std::unique_ptr<TlsTunnel> tunnel_;  // after ld_ in destruction: the library closes first
    LdapPtr ld_;
    l_timeval timeout_;
};

// "ldap://host:port/" taken apart; wldap32 takes a host and a port, not a URL.
bool SplitUrl(const std::string& url, bool& secure, std::string& host, ULONG& port) {
    std::string rest;
    if (url.rfind("ldap://", 0) == 0) {
        secure = false;
        rest = url.substr(7);
        port = LDAP_PORT;
    } else if (url.rfind("ldaps://", 0) == 0) {
        secure = true;
        rest = url.substr(8);
        port = LDAP_SSL_PORT;
    } else {
        return false;
    }
    rest = rest.substr(0, rest.find('/'));
    std::size_t colon = rest.rfind(':');
    if (colon != std::string::npos && rest.find(']') == std::string::npos) {
        std::string digits = rest.substr(colon + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            digits.size() > 5) {
            return false;
        }
        port = static_cast<ULONG>(std::stoul(digits));
        rest = rest.substr(0, colon);
    }
    host = rest;
    return !host.empty();
}

// The local port of the library's socket, by which the TLS tunnel knows its connection.
bool LibrarySocketPort(LDAP* ld, unsigned short& port) {
    SOCKET socket = 0;
    if (ldap_get_option(ld, LDAP_OPT_DESC, &socket) != LDAP_SUCCESS) {
        return false;
    }
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

}  // namespace

std::unique_ptr<LdapWire> ConnectLdap(const LdapEndpoint& endpoint, LdapOutcome* failure) {
    bool secure = false;
    std::string host;
    ULONG port = 0;
    if (!SplitUrl(endpoint.url, secure, host, port)) {
        *failure = Outcome(nullptr, LDAP_PARAM_ERROR, "the URL cannot be used");
        return nullptr;
    }
    // TLS is never left to wldap32, which (as Wine provides it) checks no certificate: the
    // tunnel checks it, and the library speaks plain LDAP to the tunnel's loopback port. A
    // plain connection goes through the same relay, which reads the searches itself.
    TlsTunnelEndpoint relay{host,
                            static_cast<unsigned short>(port),
                            secure || endpoint.startTls,
                            endpoint.startTls,
                            endpoint.caFile,
                            endpoint.timeoutSeconds};
    std::unique_ptr<TlsTunnel> tunnel = OpenTlsTunnel(relay, failure);
    if (!tunnel) {
        return nullptr;
    }
    host = "127.0.0.1";
    port = tunnel->LocalPort();
    LdapPtr ld(ldap_initA(Text(host), port));
    if (!ld) {
        *failure = Outcome(nullptr, LdapGetLastError(), "the connection could not be set up");
        return nullptr;
    }
    ULONG version = LDAP_VERSION3;
    ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ULONG limit = static_cast<ULONG>(endpoint.timeoutSeconds);
    ldap_set_option(ld.get(), LDAP_OPT_TIMELIMIT, &limit);
    l_timeval connectLimit{static_cast<LONG>(endpoint.timeoutSeconds), 0};
    ULONG code = ldap_connect(ld.get(), &connectLimit);
    if (code != LDAP_SUCCESS) {
        *failure = Outcome(ld.get(), code);
        return nullptr;
    }
    // Wine's wldap32 does not tell its socket (0: the tunnel takes the first connection).
    unsigned short libraryPort = 0;
    LibrarySocketPort(ld.get(), libraryPort);
    if (LdapOutcome started = tunnel->Start(libraryPort); !started.Ok()) {
        *failure = started;
        return nullptr;
    }
    return std::make_unique<WinLdapWire>(std::move(tunnel), std::move(ld), endpoint.timeoutSeconds);
}

}  // namespace tally::ldap
