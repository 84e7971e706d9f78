// The directory on an LDAP server (OpenLDAP slapd, or any server holding TallyDesk's schema),
// behind the same interface as the embedded store (tally::store::Store), so that the directory
// client above it does not know which of the two it talks to.
//
// Names and values are mapped by the schema the server publishes in its subschema entry (the
// definitions that carry X-NDS-NAME, as dirstore/schema/tallydesk.ldif ships them) and by
// dirstore/entry_mapping.h, the same functions the embedded store reads its LDIF with. The
// configured base DN is "[Root]": typeless names are the RDN values below it, leaf first.
//
// Each operation of the client starts with Refresh(), which forgets the entries read before, so
// that every call sees what others changed; the DNs of names found stay known for the session.
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

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
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
    // The latest refusal or failure, as the server or the library put it ("" when none).
    const std::string& LastProblem() const { return lastProblem_; }

  private:
    struct Cached {
        store::Entry entry;
        std::string dn;  // the whole DN, base included
        bool stale = false;
        bool lacksAccountClass = false;  // a user entry that cannot hold the account attributes
    };

    explicit LdapStore(LdapSettings settings);
    bool Connect(store::Problem* problem) const;
    // Binds on a new connection, asking the password source again after a refusal, up to
    // loginTries; the reason in lastProblem_ when it fails.
    bool Login(LdapWire& wire) const;
    bool Bound(const LdapOutcome& bound, const std::string& who) const;
    bool LoadSchema(store::Problem* problem);
    void LearnIdentity();
    // Runs a read on the connection, reconnecting once when it was lost.
    LdapOutcome Read(const std::string& base, LdapScope scope, const std::string& filter,
                     std::uint32_t pageSize, std::vector<LdapEntry>& found,
                     const std::vector<std::string>& attributes = {"*"}) const;
    // Sends one modify request; never sent twice, as the first may have been carried out. With
    // `after`, the request carries the post-read control for the attributes `readBack`.
    LdapOutcome Write(const std::string& dn, const std::vector<LdapMod>& mods,
                      const std::vector<std::string>& readBack = {},
                      LdapEntry* after = nullptr) const;
    // Fills produced_ after a change that succeeded: what the server returned for increments,
    // the values written for everything else.
    void TakeProduced(const std::vector<store::Change>& changes, const store::Entry& working,
                      const std::vector<std::string>& readBack, const LdapEntry& after);
    std::string RelativeDnOf(std::string_view fullName) const;
    const Cached* Take(LdapEntry&& read) const;
    const Cached* Lookup(std::string_view fullName, bool fresh) const;
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
                        std::vector<LdapEntry>& found) const;
    // The entries one level below `container` that `filter` finds, in name order; with
    // `namesOnly` read without their values (and so marked stale in the cache).
    std::vector<const store::Entry*> ListBelow(std::string_view container,
                                               const std::string& filter, bool namesOnly) const;
    // The filter on the object classes by which an entry is of the directory class
    // `className`: the site's classes for users, groups or containers and the schema's own
    // class of that name; "" when no class of the server stands for it.
    std::string ClassFilter(std::string_view className) const;

    LdapSettings settings_;
    std::vector<store::Rdn> baseRdns_;
    store::Schema schema_;
    mutable std::unique_ptr<LdapWire> wire_;
    bool useIncrement_ = false;
    mutable std::uint32_t pageSize_;  // PageSize, or less where the server refused it
    bool serverHasAccountClass_ = false;
    std::string boundDn_;
    std::string boundName_;
    mutable std::map<std::string, Cached, store::CaseInsensitiveLess> entries_;
    mutable std::set<std::string, store::CaseInsensitiveLess> absent_;
    mutable std::map<std::string, std::string, store::CaseInsensitiveLess> dns_;
    mutable store::Status lookupFailure_ = store::kOk;
    mutable std::string lastProblem_;
    mutable bool unreachable_ = false;  // the latest Connect found no server or refused its TLS
    mutable std::vector<store::Problem> warnings_;
};

}  // namespace tally::ldap
