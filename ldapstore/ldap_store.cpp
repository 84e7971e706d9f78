#include "ldapstore/ldap_store.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <thread>

#include "dirstore/entry_mapping.h"
#include "dirstore/ldif.h"

namespace tally::ldap {
namespace {

namespace store = tally::store;

constexpr const char* kIncrementFeature = "1.3.6.1.1.14";  // RFC 4525

// The server is not there, went silent, or says it cannot serve now (busy, still starting):
// worth trying again after a pause, on a new connection.
bool Transient(const LdapOutcome& outcome) {
    return outcome.ConnectionLost() || outcome.code == kLdapBusy ||
           outcome.code == kLdapUnavailable;
}

store::Status StatusOf(const LdapOutcome& outcome) {
    switch (outcome.code) {
        case kLdapSuccess:
            return store::kOk;
        case kLdapNoSuchObject:
            return store::kNoSuchEntry;
        case kLdapNoSuchAttribute:
        case kLdapUndefinedType:
            return store::kNoSuchAttribute;
        case kLdapInappropriateMatching:
        case kLdapConstraintViolation:
        case kLdapInvalidSyntax:
            return store::kBadSyntax;
        case kLdapTypeOrValueExists:
            return store::kDuplicateValue;
        case kLdapInvalidDnSyntax:
            return store::kIllegalName;
        case kLdapInvalidCredentials:
        case kLdapInsufficientAccess:
        case kLdapUnwillingToPerform:  // a consumer that takes no changes, for one
            return store::kNoAccess;
        case kLdapObjectClassViolation:
        case kLdapNotAllowedOnRdn:
            return store::kIllegalAttribute;
        case kLdapAlreadyExists:
            return store::kEntryExists;
        case kLdapBusy:
        case kLdapUnavailable:
            return store::kUnavailable;
        default:
            return outcome.ConnectionLost() ? store::kUnavailable : store::kIoError;
    }
}

// "ldap://provider:389" of a referral "ldap://provider:389/cn=...,dc=..." (the server, not the
// entry); "another server" when the referral names none.
std::string ServerOf(const std::string& referral) {
    if (referral.empty()) {
        return "another server";
    }
    const std::size_t scheme = referral.find("://");
    const std::size_t path = referral.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return referral.substr(0, path);
}

bool SameRdn(const store::Rdn& a, const store::Rdn& b) {
    return store::EqualsIgnoreCase(a.type, b.type) && store::EqualsIgnoreCase(a.value, b.value);
}

}  // namespace

std::string EscapeFilterValue(std::string_view value) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
            const auto byte = static_cast<unsigned char>(c);
            out += '\\';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

LdapStore::LdapStore(LdapSettings settings)
    : settings_(std::move(settings)), pageSize_(settings_.pageSize) {}

LdapStore::~LdapStore() = default;

std::unique_ptr<LdapStore> LdapStore::Open(const LdapSettings& settings, store::Problem* problem,
                                           bool* unreachable) {
    std::unique_ptr<LdapStore> opened(new LdapStore(settings));
    std::string error;
    if (!settings.base.empty() && !store::ParseDn(settings.base, opened->baseRdns_, &error)) {
        *problem = store::Problem{settings.endpoint.url, 0, "the base is not a DN: " + error};
        return nullptr;
    }
    if (!opened->baseRdns_.empty()) {
        std::string normal = store::FormatDn(opened->baseRdns_);
        if (store::IsPlainDn(normal)) {
            opened->plainBase_ = std::move(normal);
        }
    }
    if (!opened->Connect(problem) || !opened->LoadSchema(problem)) {
        if (unreachable != nullptr) {
            *unreachable = opened->unreachable_;
        }
        return nullptr;
    }
    opened->LearnIdentity();
    return opened;
}

bool LdapStore::Connect(store::Problem* problem) const {
    const std::string& url = settings_.endpoint.url;
    LdapOutcome failure;
    std::unique_ptr<LdapWire> wire = ConnectLdap(settings_.endpoint, &failure);
    unreachable_ = !wire;
    if (!wire) {
        lastProblem_ = failure.code == kLdapTlsRefused
                           ? url + ": " + failure.message + "; the login was not sent"
                           : url + ": the directory server cannot be reached: " + failure.message;
    } else if (!Login(*wire)) {
        wire.reset();
    }
    if (!wire) {
        warnings_.assign(1, store::Problem{url, 0, lastProblem_});
        if (problem != nullptr) {
            *problem = warnings_.front();
        }
        return false;
    }
    wire_ = std::move(wire);
    ++connections_;
    return true;
}

bool LdapStore::Login(LdapWire& wire) const {
    const std::string& url = settings_.endpoint.url;
    const std::string who = settings_.bindDn.empty() ? std::string("anonymous") : settings_.bindDn;
    if (settings_.bindDn.empty()) {
        return Bound(wire.Bind("", {}), who);
    }
    std::string refusal;
    for (int attempt = 1;; ++attempt) {
        SecretBuffer password;
        std::string problem;
        if (!settings_.password || !settings_.password(password, refusal, problem)) {
            lastProblem_ = problem.empty() ? url + ": no password was given for " + who : problem;
            return false;
        }
        // Never sent: a server may take an empty password as an unauthenticated bind, which
        // would log the operator in as nobody.
        if (password.Empty()) {
            lastProblem_ = url + ": the login as " + who + " was not sent: the password is empty";
        } else {
            const LdapOutcome bound = wire.Bind(settings_.bindDn, password.View());
            password.Wipe();
            if (Bound(bound, who)) {
                return true;
            }
            if (bound.code != kLdapInvalidCredentials) {
                return false;
            }
        }
        if (attempt >= settings_.loginTries) {
            return false;
        }
        refusal = lastProblem_;
    }
}

bool LdapStore::Bound(const LdapOutcome& bound, const std::string& who) const {
    if (bound.Ok()) {
        return true;
    }
    const std::string& url = settings_.endpoint.url;
    // wldap32 connects at the bind: a server that is not there is found only now. A server
    // still starting (or too busy) says so, and is tried again like one not there.
    unreachable_ = Transient(bound);
    lastProblem_ = unreachable_ ? url + ": the directory server cannot be reached: " + bound.message
                                : url + ": the directory server refused the login as " + who +
                                      ": " + bound.message;
    return false;
}

bool LdapStore::LoadSchema(store::Problem* problem) {
    const std::string& url = settings_.endpoint.url;
    auto fail = [&](const std::string& message) {
        lastProblem_ = url + ": " + message;
        *problem = store::Problem{url, 0, lastProblem_};
        return false;
    };
    std::vector<LdapEntry> found;
    LdapOutcome outcome =
        Read("", LdapScope::Base, "(objectClass=*)", 0, found,
             {"supportedFeatures", "subschemaSubentry", "namingContexts", "supportedControl"});
    if (!outcome.Ok() || found.empty()) {
        return fail("the server's root entry cannot be read: " + outcome.message);
    }
    std::string subschema = "cn=Subschema";
    bool increment = false;
    bool postRead = false;
    for (const auto& [attribute, values] : found.front().attributes) {
        if (store::EqualsIgnoreCase(attribute, "subschemaSubentry") && !values.empty()) {
            subschema = values.front();
        } else if (store::EqualsIgnoreCase(attribute, "supportedFeatures")) {
            increment = std::find(values.begin(), values.end(), kIncrementFeature) != values.end();
        } else if (store::EqualsIgnoreCase(attribute, "supportedControl")) {
            postRead = std::find(values.begin(), values.end(), kPostReadControl) != values.end();
        }
    }
    // The increment is used only where the server also returns the value it produced; without
    // that, delete-and-add writes a value the client knows.
    useIncrement_ = settings_.increment && increment && postRead;

    found.clear();
    outcome = Read(subschema, LdapScope::Base, "(objectClass=subschema)", 0, found,
                   {"attributeTypes", "objectClasses"});
    if (!outcome.Ok() || found.empty()) {
        return fail("the server's schema (" + subschema + ") cannot be read: " + outcome.message);
    }
    // The directory's own definitions are those that carry the directory's names; the rest of a
    // server's schema (hundreds of definitions) is not the directory's.
    std::string text = "dn: " + subschema + "\n";
    std::size_t own = 0;
    for (const auto& [attribute, values] : found.front().attributes) {
        for (const std::string& value : values) {
            if (value.find("X-NDS-NAME") != std::string::npos) {
                store::WriteLdifLine(text, attribute, value);
                ++own;
            }
        }
    }
    for (const auto& [attribute, values] : found.front().attributes) {
        if (store::EqualsIgnoreCase(attribute, "objectClasses")) {
            const std::string named = std::string("NAME '") + kAccountClass + "'";
            serverHasAccountClass_ = std::any_of(
                values.begin(), values.end(),
                [&](const std::string& value) { return value.find(named) != std::string::npos; });
        }
    }
    if (own == 0) {
        return fail(
            "the server's schema lacks TallyDesk's definitions; load "
            "dirstore/schema/tallydesk.ldif into it (docs/directory-client.md)");
    }
    if (!schema_.LoadText(text, url + " " + subschema, problem)) {
        lastProblem_ = problem->Describe();
        return false;
    }
    if (!settings_.base.empty()) {
        found.clear();
        outcome = Read(settings_.base, LdapScope::Base, "(objectClass=*)", 0, found, {"1.1"});
        if (!outcome.Ok()) {
            return fail("the base " + settings_.base + " cannot be read: " + outcome.message);
        }
    }
    return true;
}

void LdapStore::LearnIdentity() {
    std::string dn = settings_.bindDn;
    std::string authzId;
    if (wire_ && wire_->WhoAmI(authzId).Ok()) {
        // A simple bind is named "dn:<DN>"; anything else ("u:...") names no entry.
        dn = authzId.rfind("dn:", 0) == 0 ? authzId.substr(3) : std::string();
    }
    if (dn.empty()) {
        return;
    }
    // The entry as the server spells its name; a login without an entry (a database's root
    // DN) keeps the DN it was given.
    std::vector<LdapEntry> found;
    if (Read(dn, LdapScope::Base, "(objectClass=*)", 0, found, {"1.1"}).Ok() && found.size() == 1 &&
        !found.front().dn.empty()) {
        dn = found.front().dn;
    }
    std::vector<store::Rdn> rdns;
    if (!store::ParseDn(dn, rdns, nullptr) || rdns.empty()) {
        return;
    }
    boundDn_ = dn;
    if (std::optional<std::string> relative = RelativeDn(dn); relative && !relative->empty()) {
        rdns.clear();
        store::ParseDn(*relative, rdns, nullptr);
    }
    boundName_ = store::TypelessFromRdns(rdns);
}

LdapStore::Clock::time_point LdapStore::RetryDeadline() const {
    return Clock::now() + std::chrono::seconds(settings_.retrySeconds);
}

bool LdapStore::Reconnect(std::optional<Clock::time_point>& deadline) const {
    if (wire_) {
        return true;
    }
    if (!deadline) {
        deadline = RetryDeadline();
    }
    // Once the server stayed away for a whole retry, the next calls try it once each: a batch
    // has stopped by then, and the window waits one Timeout per action, not the retry again.
    std::chrono::milliseconds pause{100};
    for (;;) {
        if (Connect(nullptr)) {
            gaveUp_ = false;
            return true;
        }
        // A refused login or certificate does not mend itself by waiting.
        if (!unreachable_ || gaveUp_ || Clock::now() + pause > *deadline) {
            gaveUp_ = gaveUp_ || unreachable_;
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(2000));
    }
}

LdapOutcome LdapStore::Read(const std::string& base, LdapScope scope, const std::string& filter,
                            std::uint32_t pageSize, std::vector<LdapEntry>& found,
                            const std::vector<std::string>& attributes) const {
    return ReadEach(
        base, scope, filter, pageSize, attributes, [&found] { found.clear(); },
        [&found](LdapEntry&& entry) { found.push_back(std::move(entry)); });
}

LdapOutcome LdapStore::ReadEach(const std::string& base, LdapScope scope, const std::string& filter,
                                std::uint32_t pageSize, const std::vector<std::string>& attributes,
                                const std::function<void()>& restart,
                                const std::function<void(LdapEntry&&)>& take) const {
    std::optional<Clock::time_point> deadline;
    std::chrono::milliseconds pause{100};
    for (;;) {
        if (!Reconnect(deadline)) {
            return LdapOutcome{kLdapServerDown, lastProblem_};
        }
        restart();
        LdapOutcome outcome = wire_->Search(base, scope, filter, attributes, pageSize, take);
        if (!Transient(outcome)) {
            return outcome;
        }
        wire_.reset();  // a read may be asked again on a new connection
        if (!deadline) {
            deadline = RetryDeadline();
        }
        if (Clock::now() + pause > *deadline) {
            return outcome;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(2000));
    }
}

store::Status LdapStore::Failed(const LdapOutcome& outcome, const std::string& what) const {
    const std::string& url = settings_.endpoint.url;
    if (outcome.code == kLdapReferral) {
        lastProblem_ = url + " is a read-only copy; changes go to " + ServerOf(outcome.referral);
    } else if (outcome.code == kLdapUnwillingToPerform &&
               outcome.message.find("shadow context") != std::string::npos) {
        lastProblem_ = url + " is a read-only copy and names no server that takes changes (" +
                       what + ": " + outcome.message + ")";
    } else {
        lastProblem_ = url + ": " + what + ": " + outcome.message;
    }
    warnings_.assign(1, store::Problem{url, 0, lastProblem_});
    return outcome.code == kLdapReferral ? store::kNoAccess : StatusOf(outcome);
}

std::optional<std::string> LdapStore::RelativeDn(std::string_view dn) const {
    // Nearly every DN a server sends is plain: its relative part is then cut off as it stands.
    if ((plainBase_ || baseRdns_.empty()) && store::IsPlainDn(dn)) {
        if (baseRdns_.empty()) {
            return std::string(dn);
        }
        const std::string& base = *plainBase_;
        if (store::EqualsIgnoreCase(dn, base)) {
            return std::string();
        }
        if (dn.size() > base.size() && dn[dn.size() - base.size() - 1] == ',' &&
            store::EqualsIgnoreCase(dn.substr(dn.size() - base.size()), base)) {
            return std::string(dn.substr(0, dn.size() - base.size() - 1));
        }
        return std::nullopt;
    }
    std::vector<store::Rdn> rdns;
    if (!store::ParseDn(dn, rdns, nullptr) || rdns.size() < baseRdns_.size()) {
        return std::nullopt;
    }
    const std::size_t own = rdns.size() - baseRdns_.size();
    for (std::size_t i = 0; i < baseRdns_.size(); ++i) {
        if (!SameRdn(rdns[own + i], baseRdns_[i])) {
            return std::nullopt;
        }
    }
    rdns.resize(own);
    return rdns.empty() ? std::string() : store::FormatDn(rdns);
}

std::string LdapStore::WholeDn(std::string_view relative) const {
    if (relative.empty()) {
        return settings_.base;
    }
    if (settings_.base.empty()) {
        return std::string(relative);
    }
    return std::string(relative) + "," + settings_.base;
}

// Which naming attributes a name's leaf may stand for: those of the directory's own classes,
// and those a site names its people, groups and containers by. The entry found is then the one
// whose RDN holds the leaf, whichever attribute that is.
std::string LdapStore::NamingFilter(std::string_view leaf) const {
    std::vector<std::string> types{"cn", "uid", "ou", "o", "dc"};
    for (const store::ClassDef& definition : schema_.Classes()) {
        const store::AttributeDef* naming = schema_.NamingAttribute(definition);
        if (naming != nullptr &&
            std::none_of(types.begin(), types.end(), [&](const std::string& known) {
                return store::EqualsIgnoreCase(known, naming->ldapName);
            })) {
            types.push_back(naming->ldapName);
        }
    }
    const std::string value = EscapeFilterValue(leaf);
    std::string filter;
    for (const std::string& type : types) {
        filter += "(" + type + "=" + value + ")";
    }
    return "(|" + filter + ")";
}

namespace {

template <typename Names>
bool HoldsAnyOf(const std::vector<std::string>& classes, const Names& wanted) {
    return std::any_of(classes.begin(), classes.end(), [&](const std::string& held) {
        return std::any_of(wanted.begin(), wanted.end(), [&](std::string_view one) {
            return store::EqualsIgnoreCase(held, one);
        });
    });
}

bool HoldsClass(const std::vector<std::string>& classes, const std::vector<std::string>& wanted) {
    return HoldsAnyOf(classes, wanted);
}

bool HoldsClass(const std::vector<std::string>& classes,
                std::initializer_list<std::string_view> wanted) {
    return HoldsAnyOf(classes, wanted);
}

// A uniqueMember value may carry the member's unique id after a "#" (RFC 4519); the DN is what
// names the member.
std::string WithoutUniqueId(const std::string& value) {
    const std::size_t mark = value.rfind("'B");
    const std::size_t hash = value.rfind("#'");
    return mark != std::string::npos && hash != std::string::npos && hash < mark &&
                   mark + 2 == value.size()
               ? value.substr(0, hash)
               : value;
}

}  // namespace

std::string LdapStore::DirectoryClassOf(const std::vector<std::string>& classes, bool top) const {
    const ObjectClasses& known = settings_.classes;
    if (HoldsClass(classes, known.users)) {
        return "tallyUser";
    }
    if (HoldsClass(classes, known.groups)) {
        return "tallyGroup";
    }
    if (HoldsClass(classes, known.containers)) {
        if (HoldsClass(classes, {"organizationalUnit"})) {
            return "organizationalUnit";
        }
        if (HoldsClass(classes, {"organization"})) {
            return "organization";
        }
        // A domain (dc=...) is an organization at the top and a unit below it, where the
        // directory's containment puts each.
        return top ? "organization" : "organizationalUnit";
    }
    return {};
}

std::vector<std::string> LdapStore::EntriesByUid(const std::vector<std::string>& uids) const {
    constexpr std::size_t kPerSearch = 100;
    std::vector<std::string> dns;
    for (std::size_t first = 0; first < uids.size(); first += kPerSearch) {
        std::string filter;
        for (std::size_t i = first; i < std::min(uids.size(), first + kPerSearch); ++i) {
            filter += "(uid=" + EscapeFilterValue(uids[i]) + ")";
        }
        std::vector<LdapEntry> found;
        LdapOutcome outcome =
            Read(settings_.base, LdapScope::Subtree, "(|" + filter + ")", 0, found, {"1.1"});
        if (!outcome.Ok()) {
            lookupFailure_ = Failed(outcome, "looking up the members' uids");
            continue;
        }
        for (LdapEntry& entry : found) {
            dns.push_back(std::move(entry.dn));
        }
    }
    return dns;
}

const LdapStore::Cached* LdapStore::Take(LdapEntry&& read, bool stale) const {
    std::optional<std::string> relative = RelativeDn(read.dn);
    if (!relative || relative->empty()) {
        return nullptr;
    }
    store::LdifRecord record;
    record.kind = store::RecordKind::Content;
    record.dn = std::move(*relative);
    std::size_t valueCount = 1;
    for (const auto& attribute : read.attributes) {
        valueCount += attribute.second.size();
    }
    record.values.reserve(valueCount);
    // A site's entries stand for the directory's classes by their object classes: a person is
    // a User, a groupOfNames a Group, a domain a container.
    std::vector<std::string> classes;
    bool hasFullName = false;
    for (const auto& [attribute, values] : read.attributes) {
        if (store::EqualsIgnoreCase(attribute, "objectClass")) {
            classes.insert(classes.end(), values.begin(), values.end());
        }
        hasFullName = hasFullName || store::EqualsIgnoreCase(attribute, "fullName");
    }
    const std::string directoryClass =
        DirectoryClassOf(classes, record.dn.find(',') == std::string::npos);
    const bool user = directoryClass == "tallyUser";
    // A site's person shows its displayName (else its cn) as its full name; the shipped class
    // keeps its own fullName alone, so that a user without one shows none.
    const bool person = user && !HoldsClass(classes, {"tallyUser"});
    std::vector<std::string> uids;
    std::string shownName;
    for (auto& [attribute, values] : read.attributes) {
        if (!directoryClass.empty() && store::EqualsIgnoreCase(attribute, "objectClass")) {
            record.values.push_back({attribute, directoryClass, 0});
            continue;
        }
        if (store::EqualsIgnoreCase(attribute, "memberUid")) {
            uids.insert(uids.end(), values.begin(), values.end());
            continue;
        }
        if (person && !hasFullName && !values.empty() &&
            (store::EqualsIgnoreCase(attribute, "displayName") ||
             (shownName.empty() && store::EqualsIgnoreCase(attribute, "cn")))) {
            shownName = values.front();
        }
        if (store::EqualsIgnoreCase(attribute, "uniqueMember")) {
            attribute = "member";
            for (std::string& value : values) {
                value = WithoutUniqueId(value);
            }
        }
        const store::AttributeDef* definition = schema_.AttributeByLdapName(attribute);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::string& value = values[i];
            if (definition != nullptr && definition->syntax == kDistinguishedName) {
                if (std::optional<std::string> inside = RelativeDn(value)) {
                    value = std::move(*inside);
                }
            }
            record.values.push_back(
                {i + 1 < values.size() ? attribute : std::move(attribute), std::move(value), 0});
        }
    }
    if (!uids.empty()) {
        for (const std::string& dn : EntriesByUid(uids)) {
            if (std::optional<std::string> inside = RelativeDn(dn)) {
                record.values.push_back({"member", std::move(*inside), 0});
            }
        }
    }
    if (!shownName.empty()) {
        record.values.push_back({"fullName", shownName, 0});
    }
    // A member named twice (by member and uniqueMember, or by DN and uid) is one member.
    std::set<std::string, store::CaseInsensitiveLess> members;
    record.values.erase(std::remove_if(record.values.begin(), record.values.end(),
                                       [&](const store::LdifValue& value) {
                                           return store::EqualsIgnoreCase(value.attribute,
                                                                          "member") &&
                                                  !members.insert(value.value).second;
                                       }),
                        record.values.end());
    Cached cached;
    cached.lacksAccountClass = user && !HoldsClass(classes, {"tallyUser", kAccountClass});
    std::string error;
    if (!store::EntryFromRecord(schema_, record, cached.entry, nullptr, nullptr, &error)) {
        return nullptr;  // not an entry of this directory (another kind of object)
    }
    cached.dn = std::move(read.dn);
    cached.call = call_;
    // An entry read without its values is read again, whole, when it is looked up.
    cached.stale = stale;
    if (!absent_.empty()) {
        absent_.erase(cached.entry.name);
    }
    auto [slot, added] = entries_.try_emplace(cached.entry.name);
    slot->second = std::move(cached);  // in place: entries handed out before stay where they are
    return &slot->second;
}

const LdapStore::Cached* LdapStore::Lookup(std::string_view fullName, Fresh fresh) const {
    lookupFailure_ = store::kOk;
    if (fresh != Fresh::Server) {
        auto cached = entries_.find(fullName);
        if (cached != entries_.end() && !cached->second.stale &&
            (fresh == Fresh::Session || cached->second.call == call_)) {
            return &cached->second;
        }
        if (absent_.find(fullName) != absent_.end()) {
            return nullptr;
        }
    }
    const std::string name(fullName);
    std::vector<std::string> parts;
    if (!store::SplitTypeless(name, parts)) {
        return nullptr;
    }
    std::vector<LdapEntry> found;
    if (auto known = entries_.find(name); known != entries_.end() && !known->second.dnGone) {
        const std::string dn = known->second.dn;
        LdapOutcome outcome = Read(dn, LdapScope::Base, "(objectClass=*)", 0, found);
        if (outcome.Ok() && found.size() == 1) {
            if (const Cached* taken = Take(std::move(found.front()))) {
                return taken;
            }
        } else if (!outcome.Ok() && outcome.code != kLdapNoSuchObject) {
            lookupFailure_ = Failed(outcome, "reading " + dn);
            return nullptr;
        }
        // Gone, or renamed: looked for from its container. The entry is kept in place, as a
        // caller of this call may hold it.
        Cached& seen = entries_.find(name)->second;
        seen.stale = true;
        seen.dnGone = true;
    }
    const std::string parent = store::ParentName(name);
    std::string parentDn = settings_.base;
    if (!parent.empty()) {
        const Cached* container = Lookup(parent, Fresh::Session);
        if (container == nullptr) {
            if (lookupFailure_ == store::kOk) {
                absent_.insert(name);
            }
            return nullptr;
        }
        parentDn = container->dn;
    }
    LdapOutcome outcome =
        Read(parentDn, LdapScope::OneLevel, NamingFilter(parts.front()), 0, found);
    if (!outcome.Ok()) {
        if (outcome.code == kLdapNoSuchObject) {
            absent_.insert(name);
        } else {
            lookupFailure_ = Failed(outcome, "looking for " + name);
        }
        return nullptr;
    }
    for (LdapEntry& read : found) {
        // The filter also matches an entry that holds the leaf as another value of a naming
        // attribute; only the one whose own name it is counts.
        std::vector<store::Rdn> rdns;
        if (!store::ParseDn(read.dn, rdns, nullptr) ||
            !store::EqualsIgnoreCase(rdns.front().value, parts.front())) {
            continue;
        }
        if (const Cached* taken = Take(std::move(read))) {
            return taken;
        }
    }
    absent_.insert(name);
    return nullptr;
}

store::Status LdapStore::Refresh() {
    ++call_;
    lookupFailure_ = store::kOk;
    return store::kOk;
}

const store::Entry* LdapStore::Find(std::string_view fullName) const {
    const Cached* cached = Lookup(fullName, Fresh::Call);
    return cached != nullptr ? &cached->entry : nullptr;
}

const store::Entry* LdapStore::FindKnown(std::string_view fullName) const {
    const Cached* cached = Lookup(fullName, Fresh::Session);
    return cached != nullptr ? &cached->entry : nullptr;
}

void LdapStore::LookUpAll(const std::vector<std::string>& fullNames) const {
    // A filter of this many names (five naming attributes each) stays well inside what a server
    // takes in one request.
    constexpr std::size_t kNamesPerSearch = 64;
    std::map<std::string, std::vector<std::string>, store::CaseInsensitiveLess> byContainer;
    std::set<std::string, store::CaseInsensitiveLess> asked;
    for (const std::string& name : fullNames) {
        std::vector<std::string> parts;
        if (!store::SplitTypeless(name, parts) || !asked.insert(name).second) {
            continue;
        }
        if (auto seen = entries_.find(name); seen != entries_.end() && !seen->second.stale) {
            continue;
        }
        byContainer[store::ParentName(name)].push_back(parts.front());
    }
    for (const auto& [parent, leaves] : byContainer) {
        std::string parentDn = settings_.base;
        if (!parent.empty()) {
            const Cached* container = Lookup(parent, Fresh::Session);
            if (container == nullptr) {
                continue;
            }
            parentDn = container->dn;
        }
        for (std::size_t first = 0; first < leaves.size(); first += kNamesPerSearch) {
            const std::size_t end = std::min(leaves.size(), first + kNamesPerSearch);
            std::set<std::string, store::CaseInsensitiveLess> wanted(
                leaves.begin() + static_cast<std::ptrdiff_t>(first),
                leaves.begin() + static_cast<std::ptrdiff_t>(end));
            std::string filter;
            for (const std::string& leaf : wanted) {
                filter += NamingFilter(leaf);
            }
            std::vector<LdapEntry> found;
            if (!Read(parentDn, LdapScope::OneLevel, "(|" + filter + ")", 0, found).Ok()) {
                continue;  // each name is then looked up on its own when it is asked for
            }
            for (LdapEntry& read : found) {
                // Only an entry whose own RDN is one of the names counts, as in Lookup.
                std::vector<store::Rdn> rdns;
                if (store::ParseDn(read.dn, rdns, nullptr) && !rdns.empty() &&
                    wanted.count(rdns.front().value) != 0) {
                    Take(std::move(read));
                }
            }
        }
    }
    lookupFailure_ = store::kOk;
}

const store::AttributeDef* LdapStore::Attribute(std::string_view name) const {
    return schema_.Attribute(name);
}

const std::vector<store::AttributeDef>& LdapStore::Attributes() const {
    return schema_.Attributes();
}

const store::ClassDef* LdapStore::ObjectClass(std::string_view name) const {
    return schema_.ObjectClass(name);
}

const std::vector<store::ClassDef>& LdapStore::Classes() const {
    return schema_.Classes();
}

// Below a container that is there, a name's DN is that container's with the leaf named as the
// class would name it; above, the tree is named as it is built (a leaf by cn, the top by o, the
// rest by ou), as the embedded store does.
std::string LdapStore::RelativeDnOf(std::string_view fullName) const {
    if (const Cached* cached = Lookup(fullName, Fresh::Session)) {
        return RelativeDn(cached->dn).value_or(std::string());
    }
    std::vector<std::string> parts;
    store::SplitTypeless(fullName, parts);
    std::vector<store::Rdn> rdns;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            std::vector<std::string> rest(parts.begin() + static_cast<std::ptrdiff_t>(i),
                                          parts.end());
            if (const Cached* container = Lookup(store::JoinTypeless(rest), Fresh::Session)) {
                std::string dn = store::FormatDn(rdns);
                std::string above = RelativeDn(container->dn).value_or(std::string());
                return above.empty() ? dn : dn + "," + above;
            }
        }
        const char* type = (i + 1 == parts.size()) ? "o" : (i == 0 ? "cn" : "ou");
        rdns.push_back({type, parts[i]});
    }
    return store::FormatDn(rdns);
}

std::string LdapStore::DnOf(std::string_view fullName) const {
    return WholeDn(RelativeDnOf(fullName));
}

}  // namespace tally::ldap
