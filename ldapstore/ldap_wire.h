// The few LDAP operations the directory client needs, over the platform's LDAP library:
// OpenLDAP's libldap natively (ldap_wire_posix.cpp), the system's wldap32 on Windows
// (ldap_wire_winapi.cpp). Everything above this header is the same code on both.
//
// Strings are passed and returned as the bytes the server holds (UTF-8 on the wire); the
// callers build DNs and filters with the escaping of ldap_names.h.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tally::ldap {

// LDAP result codes that the client tells apart (RFC 4511, and the client libraries' own).
enum LdapCode : int {
    kLdapSuccess = 0,
    kLdapTimeLimitExceeded = 3,
    kLdapReferral = 10,
    kLdapSizeLimitExceeded = 4,
    kLdapAdminLimitExceeded = 11,  // slapd: a page size above the login's size.pr
    kLdapUnavailableCriticalExtension = 12,
    kLdapCompareFalse = 5,
    kLdapCompareTrue = 6,
    kLdapNoSuchAttribute = 16,
    kLdapUndefinedType = 17,
    kLdapInappropriateMatching = 18,
    kLdapConstraintViolation = 19,
    kLdapTypeOrValueExists = 20,
    kLdapInvalidSyntax = 21,
    kLdapNoSuchObject = 32,
    kLdapInvalidDnSyntax = 34,
    kLdapInvalidCredentials = 49,
    kLdapInsufficientAccess = 50,
    kLdapBusy = 51,
    kLdapUnavailable = 52,
    kLdapUnwillingToPerform = 53,
    kLdapObjectClassViolation = 65,
    kLdapNotAllowedOnRdn = 67,
    kLdapAlreadyExists = 68,
    kLdapServerDown = 81,  // the connection is gone (both libraries)
    // An answer that cannot be read (wldap32's number; libldap's own is mapped to it): the
    // program's reader refuses it in words (ldap_protocol.h).
    kLdapDecodingError = 84,
    kLdapTimeout = 85,
    kLdapFilterError = 87,
    kLdapConnectError = 91,
    // The client's own: TLS was refused (the certificate, its name, the CA file); nothing was
    // sent over the connection, the password least of all.
    kLdapTlsRefused = -1001,
};

struct LdapOutcome {
    LdapOutcome() = default;
    LdapOutcome(int resultCode, std::string text, std::string referredTo = {})
        : code(resultCode), message(std::move(text)), referral(std::move(referredTo)) {}

    int code = kLdapSuccess;
    std::string message;   // the library's text for the code, and the server's own words
    std::string referral;  // with kLdapReferral: where the server sends the request instead

    bool Ok() const { return code == kLdapSuccess; }
    // The connection is unusable: the server went away or could not be reached in time.
    bool ConnectionLost() const {
        return code == kLdapServerDown || code == kLdapConnectError || code == kLdapTimeout;
    }
    // The server answered, but what it sent cannot be read: nothing of it is taken.
    bool AnswerUnread() const { return code == kLdapDecodingError; }
    // For a change sent: whether the server may have made it although nothing says so (its
    // answer was lost or cannot be read), which only the entry, read again, can tell.
    bool FateOpen() const { return ConnectionLost() || AnswerUnread(); }
};

enum class LdapScope { Base, OneLevel, Subtree };

inline constexpr const char* kPostReadControl = "1.3.6.1.1.13.2";           // RFC 4527
inline constexpr const char* kWhoAmIOperation = "1.3.6.1.4.1.4203.1.11.3";  // RFC 4532

struct LdapEntry {
    std::string dn;
    std::vector<std::pair<std::string, std::vector<std::string>>> attributes;
};

enum class LdapModOp { Add, Delete, Replace, Increment };

struct LdapMod {
    LdapModOp op;
    std::string attribute;
    std::vector<std::string> values;
};

struct LdapEndpoint {
    std::string url;           // ldap://host:port or ldaps://host:port
    bool startTls = false;     // StartTLS on an ldap:// connection before the bind
    std::string caFile;        // certificates to trust for TLS; empty: the system's
    int timeoutSeconds = 10;   // for connecting and for each operation
    bool verifyServer = true;  // check the server's certificate and name
};

class LdapWire {
  public:
    virtual ~LdapWire() = default;

    // A simple bind; an empty name binds anonymously. The password is used in place: no copy
    // of it is kept.
    virtual LdapOutcome Bind(const std::string& dn, std::string_view password) = 0;

    // Calls `take` for every entry found. `pageSize` > 0 asks for the results in pages of that
    // many entries with the Paged Results control (RFC 2696).
    virtual LdapOutcome Search(const std::string& base, LdapScope scope, const std::string& filter,
                               const std::vector<std::string>& attributes, std::uint32_t pageSize,
                               const std::function<void(LdapEntry&&)>& take) = 0;

    // One modify request: all of its changes apply or none (RFC 4511, 4.6).
    virtual LdapOutcome Modify(const std::string& dn, const std::vector<LdapMod>& mods) = 0;

    // The same modify with the Post-Read control (RFC 4527): `after` receives the entry's
    // `readBack` attributes as this change left them, whatever other writers do next. Only for a
    // server that lists the control (kPostReadControl) among its supportedControl; the control
    // is marked critical, so a server that cannot honour it refuses the change instead of
    // making it silently without the values.
    virtual LdapOutcome ModifyAndRead(const std::string& dn, const std::vector<LdapMod>& mods,
                                      const std::vector<std::string>& readBack,
                                      LdapEntry& after) = 0;

    // The same modify sent ahead: the request leaves now and its answer is taken later by
    // TakeModifyAnswer, so that a batch keeps several changes on their way at once. Answers are
    // taken in the order their requests were sent. A failure here means the request may not
    // have left (the connection is gone). A wire that cannot send ahead (SendsAhead() false)
    // makes the change here and hands its outcome over at the take.
    virtual bool SendsAhead() const { return false; }
    virtual LdapOutcome SendModifyAndRead(const std::string& dn, const std::vector<LdapMod>& mods,
                                          const std::vector<std::string>& readBack) {
        Answered& answer = answered_.emplace_back();
        answer.outcome = ModifyAndRead(dn, mods, readBack, answer.after);
        return {};
    }
    // The answer to the oldest request sent ahead and not taken yet: its outcome and, when it
    // was made, the post-read entry. A connection that went (or an answer that did not come
    // within the timeout) leaves the request's fate open.
    virtual LdapOutcome TakeModifyAnswer(LdapEntry& after) {
        if (answered_.empty()) {
            return LdapOutcome{kLdapServerDown, "no change was sent ahead"};
        }
        Answered answer = std::move(answered_.front());
        answered_.pop_front();
        after = std::move(answer.after);
        return answer.outcome;
    }

    // Who the connection is bound as, by the "Who am I?" operation (RFC 4532): "dn:<DN>" for a
    // simple bind, "u:<name>" for some SASL logins, "" when anonymous.
    virtual LdapOutcome WhoAmI(std::string& authzId) = 0;

    virtual LdapOutcome Add(const std::string& dn, const std::vector<LdapMod>& attributes) = 0;
    virtual LdapOutcome Delete(const std::string& dn) = 0;

  private:
    struct Answered {
        LdapOutcome outcome;
        LdapEntry after;
    };
    std::deque<Answered> answered_;
};

// Connects (and starts TLS when asked, with the server's certificate and name checked); the bind
// is the caller's next step. Null with the reason in `failure` when the server cannot be reached
// or TLS is refused (kLdapTlsRefused, the reason in words).
std::unique_ptr<LdapWire> ConnectLdap(const LdapEndpoint& endpoint, LdapOutcome* failure);

}  // namespace tally::ldap
