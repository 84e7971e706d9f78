// The scratch slapd that scripts/lib/scratch_slapd.py starts for the client's tests, as its
// environment describes it, and a way to put a test's own tree on it: each tree goes below an
// entry of its own, which the test then names as its Base ("[Root]"), so that the cases do not
// see each other's entries.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "directory/client_config.h"
#include "ldapstore/ldap_wire.h"
#include "dirstore/ldif.h"
#include "dirstore/names.h"

namespace tally::testing {

struct LdapServer {
    std::string url;
    std::string suffix;
    std::string adminDn;
    std::string operatorDn;
    std::string readerDn;
    std::string passwordFile;

    static const char* Env(const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? value : "";
    }
    // A path the scratch server's script wrote, as this program sees it: under Wine the Unix
    // tree is drive Z:.
    static std::string OnThisSystem(std::string path) {
#ifdef _WIN32
        if (!path.empty() && path.front() == '/') {
            path = "Z:" + path;
        }
#endif
        return path;
    }
    static LdapServer FromEnvironment() {
        return LdapServer{
            Env("TALLY_LDAP_URL"),       Env("TALLY_LDAP_SUFFIX"),
            Env("TALLY_LDAP_ADMIN_DN"),  Env("TALLY_LDAP_OPERATOR_DN"),
            Env("TALLY_LDAP_READER_DN"), OnThisSystem(Env("TALLY_LDAP_PASSWORD_FILE"))};
    }
    bool Available() const { return !url.empty(); }

    std::string Password() const {
        ldap::SecretBuffer line;
        std::string problem;
        EXPECT_TRUE(directory::ReadOwnerOnlyFile(passwordFile, line, problem)) << problem;
        return std::string(line.View());
    }

    // tallynet.ini's [Store] for this server, logged in as `bindDn`, "[Root]" at `base`.
    std::string StoreSection(const std::string& base, const std::string& bindDn,
                             std::string_view extra = "") const {
        return "[Store]\nKind=ldap\nUrl=" + url + "\nBase=" + base + "\nBindDN=" + bindDn +
               "\nPasswordFile=" + passwordFile + "\n" + std::string(extra);
    }

    // A connection bound as the database's administrator.
    std::unique_ptr<ldap::LdapWire> Admin() const {
        ldap::LdapEndpoint endpoint;
        endpoint.url = url;
        ldap::LdapOutcome failure;
        auto wire = ldap::ConnectLdap(endpoint, &failure);
        EXPECT_TRUE(wire) << failure.message;
        if (wire) {
            ldap::LdapOutcome bound = wire->Bind(adminDn, Password());
            EXPECT_TRUE(bound.Ok()) << bound.message;
        }
        return wire;
    }

    // Adds the entries of `ldif` (DNs and member values relative to the top of the directory)
    // below a new entry ou=`name` under the suffix; returns that entry's DN, the tree's base.
    std::string LoadTree(const std::string& name, std::string_view ldif) const {
        using ldap::LdapModOp;
        auto wire = Admin();
        if (!wire) {
            return {};
        }
        const std::string base = store::FormatRdn({"ou", name}) + "," + suffix;
        ldap::LdapOutcome added =
            wire->Add(base, {{LdapModOp::Add, "objectClass", {"organizationalUnit"}},
                             {LdapModOp::Add, "ou", {name}}});
        EXPECT_TRUE(added.Ok()) << base << ": " << added.message;
        std::vector<store::LdifRecord> records;
        store::Problem problem;
        EXPECT_TRUE(store::ParseLdif(ldif, "tree", 1, records, &problem)) << problem.Describe();
        for (const store::LdifRecord& record : records) {
            std::vector<ldap::LdapMod> attributes;
            for (const store::LdifValue& value : record.values) {
                std::string text = value.value;
                if (store::EqualsIgnoreCase(value.attribute, "member")) {
                    text += "," + base;
                }
                auto same = std::find_if(attributes.begin(), attributes.end(), [&](auto& mod) {
                    return store::EqualsIgnoreCase(mod.attribute, value.attribute);
                });
                if (same == attributes.end()) {
                    attributes.push_back({LdapModOp::Add, value.attribute, {text}});
                } else {
                    same->values.push_back(text);
                }
            }
            ldap::LdapOutcome outcome = wire->Add(record.dn + "," + base, attributes);
            EXPECT_TRUE(outcome.Ok()) << record.dn << ": " << outcome.message;
        }
        return base;
    }
};

}  // namespace tally::testing
