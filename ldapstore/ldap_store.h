// The directory on an LDAP server (OpenLDAP slapd, or any server holding TallyDesk's schema),
// behind the same interface as the embedded store (tally::store::Store), so that the directory
// client above it does not know which of the two it talks to.
//
// Names and values are mapped by the schema the server publishes in its subschema entry (the
// definitions that carry X-NDS-NAME, as dirstore/schema/tallydesk.ldif ships them) and by
// dirstore/entry_mapping.h, the same functions the embedded store reads its LDIF with. The
// configured base DN is "[Root]": typeless names are the RDN values below it, leaf first.
//
// Each operation of the client starts with Refresh(), which begins a new call: Find() and
// Children() read afresh what others may have changed since the call before, while FindKnown()
// answers from what this session has seen already (a listing, a read, the result of its own
// change), so that a batch does not ask the server again for names, DNs and classes it knows.
// A change planned on an entry seen earlier is still safe: the server refuses it when the entry
// is no longer what was seen (a counter's old value gone, a second first value, a vanished DN),
// and the change is then planned again on a fresh read.
// Counter additions are made on the server in one modify: the increment of RFC 4525 where the
// server announces it and the post-read control (RFC 4527) that returns the sum it made,
// otherwise a delete of the value read and an add of the new one, which the server refuses when
// another writer changed the value in between, and which is then tried again a bounded number
// of times. Either way the value the change produced is known (Produced()).
//
// A site's own entries count by their object classes (ObjectClasses): people are users, its
// groups of names, unique names and posix groups are groups, its domains containers. A person
// without the account class gets it (kAccountClass) in the request of its first change.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ldapstore/ldap_wire.h"
#include "ldapstore/secret_buffer.h"
#include "dirstore/names.h"
#include "dirstore/schema.h"
#include "dirstore/store.h"

namespace tally::ldap {

// Fills in the bind password each time the store binds: at the start and after a lost
// connection. `refusal` is the server's refusal of the try before ("" on the first). False with
// the reason in `problem` when there is none (cancelled, a file that cannot be used).
using PasswordSource =
    std::function<bool(SecretBuffer& password, const std::string& refusal, std::string& problem)>;
// The object classes by which a site's entries are recognised as the directory's users, groups
// and containers, whatever else they are ([Store] UserClasses, GroupClasses, ContainerClasses).
struct ObjectClasses {
    std::vector<std::string> users{"inetOrgPerson", "person", "organizationalPerson", "tallyUser"};
    std::vector<std::string> groups{"groupOfNames", "groupOfUniqueNames", "posixGroup",
                                    "tallyGroup"};
    std::vector<std::string> containers{"organizationalUnit", "organization", "domain", "dcObject"};
};

// The auxiliary class that lets any entry hold the account attributes; the first change to a
// user without it (or the shipped structural tallyUser) adds it in the same modify.
inline constexpr const char* kAccountClass = "tallyAccount";

struct LdapSettings {
    LdapEndpoint endpoint;
    ObjectClasses classes;
    std::string base;  // the DN of "[Root]"
    std::string bindDn;
    // The password is not kept: it is asked for (read from its file, typed) for each bind and
    // wiped as soon as the bind is made.
    PasswordSource password;
    int loginTries = 1;     // binds refused for the password before the login fails
    bool increment = true;  // use RFC 4525 when the server announces it
    std::uint32_t pageSize = 500;
    int changeAttempts = 40;  // tries of a counter change that meets another writer's
    // How long a connection that was lost (or a server that went silent) is tried again, with
    // growing pauses, before the operation fails: a restart of the server costs a pause, not
    // the change.
    int retrySeconds = 30;
    // How many changes of a batch may be on their way to the server at once (SendModify).
    int changesAhead = 32;
};

// A value as an LDAP filter may hold it (RFC 4515): "*", "(", ")", "\" and NUL escaped.
std::string EscapeFilterValue(std::string_view value);

class LdapStore final : public store::Store {
  public:
    // Connects, binds, reads the root DSE and the schema. Null with the reason in `problem`
    // (naming the server) when any of it fails; `unreachable`, when given, tells whether the
    // server could not be reached or its TLS connection was refused (its certificate, its name
    // or the CA file), as against a refused login or a server without the schema.
    static std::unique_ptr<LdapStore> Open(const LdapSettings& settings, store::Problem* problem,
                                           bool* unreachable = nullptr);
    ~LdapStore() override;

    store::Status Refresh() override;
    const store::Entry* Find(std::string_view fullName) const override;
    // The entry as this session last saw it, read from the server only when it has not seen it
    // yet: for a name, a class or a DN, and for the value a change starts from (whose change
    // the server then checks itself).
    const store::Entry* FindKnown(std::string_view fullName) const;
    // Looks up many names at once, a few searches for all of them (names of one container in
    // chunks of one OR-filter each), so that FindKnown() then answers them without asking.
    void LookUpAll(const std::vector<std::string>& fullNames) const;
    std::vector<const store::Entry*> Children(std::string_view container) const override;
    // One level down with a filter on the LDAP classes that stand for `className`, so that the
    // server sends those entries alone (ldap_listing.cpp).
    std::vector<const store::Entry*> ChildrenOfClass(std::string_view container,
                                                     std::string_view className) const override;
    // Not counted: a server would send every entry below each container listed for it.
    std::size_t SubordinateCount(std::string_view) const override { return 0; }
    const store::AttributeDef* Attribute(std::string_view name) const override;
    const std::vector<store::AttributeDef>& Attributes() const override;
    const store::ClassDef* ObjectClass(std::string_view name) const override;
    const std::vector<store::ClassDef>& Classes() const override;
    store::Status Modify(std::string_view fullName,
                         const std::vector<store::Change>& changes) override;
    store::Status AddEntry(const store::Entry& entry) override;
    // Increments go ahead of their answers on the connection where the wire can send them so
    // (others are made at once, in turn); an answer that does not come is settled as Modify()
    // settles a lost one: by reading the entry once the server is back, the change made again only
    // when it was not made.
    int ChangesAhead() const override {
        return wire_ && wire_->SendsAhead() ? settings_.changesAhead : 1;
    }
    store::Status SendModify(std::string_view fullName,
                             const std::vector<store::Change>& changes) override;
    store::Status TakeModify() override;
    // The server keeps its own data: nothing to fold, nothing to flush.
    store::Status Compact() override { return store::kOk; }
    store::Status Sync() override { return store::kOk; }
    const std::vector<store::Problem>& Warnings() const override { return warnings_; }
    store::Status LookupFailure() const override { return lookupFailure_; }

    // Whether counter additions use the server's increment (else delete-and-add).
    bool UsesIncrement() const { return useIncrement_; }
    // The DN that a typeless full name has, or would have (for names not in the directory).
    std::string DnOf(std::string_view fullName) const;
    // Who the connection is bound as, as the server says (the "Who am I?" operation, else the
    // BindDN as the server spells its entry): the DN ("" when anonymous) and its typeless name,
    // the RDN values below the base leaf first (or, for a login outside the base, the values of
    // the whole DN), so that the log names the login that made each change.
    const std::string& BoundDn() const { return boundDn_; }
    const std::string& BoundName() const { return boundName_; }
    // Whether the last Modify() failed in a way that leaves open whether the server made it (its
    // answer was lost, and the entry could not tell): its record waits for a later look.
    bool ChangeInDoubt() const { return changeInDoubt_; }
    // The latest refusal or failure, as the server or the library put it ("" when none).
    const std::string& LastProblem() const { return lastProblem_; }

  private:
    struct Cached {
        store::Entry entry;
        std::string dn;  // the whole DN, base included
        bool stale = false;
        bool dnGone = false;             // its DN named nothing when read again (gone, or renamed)
        bool lacksAccountClass = false;  // a user entry that cannot hold the account attributes
        std::uint64_t call = 0;          // the client call (Refresh) in which it was read
    };
    // How recent an entry must be: as this session knows it, as read in this client call, or
    // read from the server now.
    enum class Fresh { Session, Call, Server };

    // One modify request as planned on the entry this session knows.
    struct PlannedModify {
        std::string dn;
        store::Entry before;   // the attributes it changes, as planned on
        store::Entry working;  // the same attributes, as the change leaves them
        std::vector<LdapMod> request;
        std::vector<std::string> readBack;  // incremented attributes, returned by the server
        bool counted = false;               // a counter change, which another writer's may overtake
        bool startedCounter = false;        // the first value of a counter not held yet
        bool addsClass = false;             // a person gets the account class with it
    };
    // A change sent ahead (or made at once, `made`), waiting for TakeModify.
    struct SentChange {
        std::string name;
        std::vector<store::Change> changes;
        PlannedModify plan;
        std::uint64_t connection = 0;  // the connection it went on
        std::optional<store::Status> made;
        store::AttributeMap produced;
        bool inDoubt = false;
        std::string problem;
    };

    explicit LdapStore(LdapSettings settings);
    // Plans the change on the entry (read from the server as `fresh` asks); kOk with an empty
    // request when there is nothing to change.
    store::Status PlanModify(const std::string& name, const std::vector<store::Change>& changes,
                             Fresh fresh, PlannedModify& plan) const;
    // A change whose answer was lost and whose entry cannot tell whether it was made.
    store::Status InDoubt(const LdapOutcome& outcome, const std::string& dn);
    bool Connect(store::Problem* problem) const;
    // Binds on a new connection, asking the password source again after a refusal, up to
    // loginTries; the reason in lastProblem_ when it fails.
    bool Login(LdapWire& wire) const;
    bool Bound(const LdapOutcome& bound, const std::string& who) const;
    bool LoadSchema(store::Problem* problem);
    void LearnIdentity();
    using Clock = std::chrono::steady_clock;
    Clock::time_point RetryDeadline() const;
    // Makes the connection anew when there is none, trying again with growing pauses until
    // `deadline` (set to RetryDeadline() when unset) while the server cannot be reached.
    bool Reconnect(std::optional<Clock::time_point>& deadline) const;
    // Runs a read on the connection, on a new one when it was lost, until the retry ends.
    LdapOutcome Read(const std::string& base, LdapScope scope, const std::string& filter,
                     std::uint32_t pageSize, std::vector<LdapEntry>& found,
                     const std::vector<std::string>& attributes = {"*"}) const;
    // The same, each entry handed to `take` as it is read; `restart` is called before each try
    // (a try on a new connection starts the read over).
    LdapOutcome ReadEach(const std::string& base, LdapScope scope, const std::string& filter,
                         std::uint32_t pageSize, const std::vector<std::string>& attributes,
                         const std::function<void()>& restart,
                         const std::function<void(LdapEntry&&)>& take) const;
    // Sends one modify request, once: `sent` tells whether it left (a lost answer then leaves
    // its fate open). With `after`, the request carries the post-read control for the
    // attributes `readBack`.
    LdapOutcome Write(const std::string& dn, const std::vector<LdapMod>& mods,
                      const std::vector<std::string>& readBack, LdapEntry* after, bool* sent) const;
    // A change whose answer was lost with the connection: once the server is back, the entry
    // tells whether it was made (its attributes hold what the change planned and not what they
    // held before), not made (the other way round), or neither (others changed it too, or the
    // server stayed away).
    enum class LostChange { Made, NotMade, Unknown };
    LostChange SettleLostChange(const std::string& name, const store::Entry& before,
                                const store::Entry& planned,
                                const std::vector<store::Change>& changes);
    // Fills produced_ after a change that succeeded: what the server returned for increments,
    // the values written for everything else.
    void TakeProduced(const std::vector<store::Change>& changes, const store::Entry& working,
                      const std::vector<std::string>& readBack, const LdapEntry& after);
    // Keeps what a change that succeeded left in the session's entry, so that the next change
    // starts from it without reading it again.
    void KeepProduced(const std::string& name, const std::vector<store::Change>& changes,
                      store::Entry&& working, const std::vector<std::string>& readBack,
                      bool addedClass);
    std::string RelativeDnOf(std::string_view fullName) const;
    // Keeps an entry read from the server in the session; `stale` when read without its values.
    const Cached* Take(LdapEntry&& read, bool stale = false) const;
    const Cached* Lookup(std::string_view fullName, Fresh fresh) const;
    std::optional<std::string> RelativeDn(std::string_view dn) const;
    std::string WholeDn(std::string_view relative) const;
    std::string NamingFilter(std::string_view leaf) const;
    // The directory class (its LDAP name) that an entry of these object classes stands for, or
    // "" when the schema's own mapping is to be used; `top`: the entry lies right below the base.
    std::string DirectoryClassOf(const std::vector<std::string>& classes, bool top) const;
    // The DNs of the entries below the base whose uid is one of `uids` (posixGroup members).
    std::vector<std::string> EntriesByUid(const std::vector<std::string>& uids) const;
    store::Status Failed(const LdapOutcome& outcome, const std::string& what) const;
    // Listings (ldap_listing.cpp). The DN of a container ("" is the base), or nothing with
    // lookupFailure_ telling why.
    std::optional<std::string> ContainerDn(std::string_view container) const;
    // A one-level search below `dn` in pages, the page made smaller where the server refuses
    // its size; a failure is noted in lookupFailure_ and lastProblem_.
    bool SearchOneLevel(const std::string& dn, const std::string& filter,
                        const std::vector<std::string>& attributes,
                        const std::function<void()>& restart,
                        const std::function<void(LdapEntry&&)>& take) const;
    // The entries one level below `container` that `filter` finds, in name order; with
    // `namesOnly` read without their values (and so marked stale in the cache).
    std::vector<const store::Entry*> ListBelow(std::string_view container,
                                               const std::string& filter, bool namesOnly) const;
    // The filter on the object classes by which an entry is of the directory class
    // `className`: the site's classes for users, groups or containers and the schema's own
    // class of that name; "" when no class of the server stands for it.
    std::string ClassFilter(std::string_view className) const;

    // The schema's syntaxes the store treats apart: DN values (made whole or relative to the
    // base) and counters (which another writer's change may overtake).
    static constexpr std::uint32_t kDistinguishedName = 1;
    static constexpr std::uint32_t kCounter = 22;

    LdapSettings settings_;
    std::vector<store::Rdn> baseRdns_;
    // The base as FormatDn() writes it, when that is a plain DN (store::IsPlainDn).
    std::optional<std::string> plainBase_;
    store::Schema schema_;
    mutable std::unique_ptr<LdapWire> wire_;
    bool useIncrement_ = false;
    mutable std::uint32_t pageSize_;  // PageSize, or less where the server refused it
    bool serverHasAccountClass_ = false;
    std::string boundDn_;
    std::string boundName_;
    // Entries are kept for the session (and stay where they are: pointers handed out stay
    // good); call_ counts the client's calls, so that Find() knows what is older than this one.
    mutable std::unordered_map<std::string, Cached, store::CaseInsensitiveHash,
                               store::CaseInsensitiveEqual>
        entries_;
    std::uint64_t call_ = 1;
    // Names found missing, kept until the next listing: a name that is none (the relative
    // reading of a complete name, say) is not looked for again at every call.
    mutable std::unordered_set<std::string, store::CaseInsensitiveHash, store::CaseInsensitiveEqual>
        absent_;

    mutable store::Status lookupFailure_ = store::kOk;
    mutable std::string lastProblem_;
    mutable bool unreachable_ = false;  // the latest Connect found no server or refused its TLS
    mutable bool gaveUp_ = false;       // the server stayed away for a whole retry
    bool changeInDoubt_ = false;
    std::deque<SentChange> sentAhead_;
    mutable std::uint64_t connections_ = 0;  // connections made so far
    mutable std::vector<store::Problem> warnings_;
};

}  // namespace tally::ldap
