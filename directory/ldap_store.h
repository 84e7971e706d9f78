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
// server announces it, otherwise a delete of the value read and an add of the new one, which
// the server refuses when another writer changed the value in between, and which is then tried
// again a bounded number of times.
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

#include "directory/ldap_wire.h"
#include "directory/secret_buffer.h"
#include "dirstore/names.h"
#include "dirstore/schema.h"
#include "dirstore/store.h"

namespace tally::directory {

// Fills in the bind password each time the store binds: at the start and after a lost
// connection. `refusal` is the server's refusal of the try before ("" on the first). False with
// the reason in `problem` when there is none (cancelled, a file that cannot be used).
using PasswordSource =
    std::function<bool(SecretBuffer& password, const std::string& refusal, std::string& problem)>;

struct LdapSettings {
    LdapEndpoint endpoint;
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
    // (naming the server) when any of it fails.
    static std::unique_ptr<LdapStore> Open(const LdapSettings& settings, store::Problem* problem);
    ~LdapStore() override;

    store::Status Refresh() override;
    const store::Entry* Find(std::string_view fullName) const override;
    std::vector<const store::Entry*> Children(std::string_view container) const override;
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
    // The latest refusal or failure, as the server or the library put it ("" when none).
    const std::string& LastProblem() const { return lastProblem_; }

  private:
    struct Cached {
        store::Entry entry;
        std::string dn;  // the whole DN, base included
        bool stale = false;
    };

    explicit LdapStore(LdapSettings settings);
    bool Connect(store::Problem* problem) const;
    // Binds on a new connection, asking the password source again after a refusal, up to
    // loginTries; the reason in lastProblem_ when it fails.
    bool Login(LdapWire& wire) const;
    bool Bound(const LdapOutcome& bound, const std::string& who) const;
    bool LoadSchema(store::Problem* problem);
    // Runs a read on the connection, reconnecting once when it was lost.
    LdapOutcome Read(const std::string& base, LdapScope scope, const std::string& filter,
                     std::uint32_t pageSize, std::vector<LdapEntry>& found,
                     const std::vector<std::string>& attributes = {"*"}) const;
    // Sends one modify request; never sent twice, as the first may have been carried out.
    LdapOutcome Write(const std::string& dn, const std::vector<LdapMod>& mods) const;
    std::string RelativeDnOf(std::string_view fullName) const;
    const Cached* Take(LdapEntry&& read) const;
    const Cached* Lookup(std::string_view fullName, bool fresh) const;
    std::optional<std::string> RelativeDn(std::string_view dn) const;
    std::string WholeDn(std::string_view relative) const;
    std::string NamingFilter(bool top, std::string_view leaf) const;
    store::Status Failed(const LdapOutcome& outcome, const std::string& what) const;

    LdapSettings settings_;
    std::vector<store::Rdn> baseRdns_;
    store::Schema schema_;
    mutable std::unique_ptr<LdapWire> wire_;
    bool useIncrement_ = false;
    mutable std::map<std::string, Cached, store::CaseInsensitiveLess> entries_;
    mutable std::set<std::string, store::CaseInsensitiveLess> absent_;
    mutable std::map<std::string, std::string, store::CaseInsensitiveLess> dns_;
    mutable store::Status lookupFailure_ = store::kOk;
    mutable std::string lastProblem_;
    mutable std::vector<store::Problem> warnings_;
};

}  // namespace tally::directory
