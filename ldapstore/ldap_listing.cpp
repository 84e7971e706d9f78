// The listings of a directory on a server: a container's entries one level down, all of them or
// those of one directory class. A class is asked of the server by a filter on the object
// classes that stand for it, so that listing the containers beside ten thousand users, or the
// groups beside them, never fetches the users.
#include <algorithm>

#include "dirstore/names.h"
#include "ldapstore/ldap_store.h"

namespace tally::ldap {

namespace store = tally::store;

std::optional<std::string> LdapStore::ContainerDn(std::string_view container) const {
    lookupFailure_ = store::kOk;
    if (container.empty()) {
        return settings_.base;
    }
    const Cached* cached = Lookup(container, Fresh::Session);
    if (cached == nullptr) {
        return std::nullopt;
    }
    return cached->dn;
}

bool LdapStore::SearchOneLevel(const std::string& dn, const std::string& filter,
                               const std::vector<std::string>& attributes,
                               const std::function<void()>& restart,
                               const std::function<void(LdapEntry&&)>& take) const {
    std::size_t taken = 0;
    auto count = [&](LdapEntry&& entry) {
        ++taken;
        take(std::move(entry));
    };
    auto again = [&] {
        taken = 0;
        restart();
    };
    LdapOutcome outcome =
        ReadEach(dn, LdapScope::OneLevel, filter, pageSize_, attributes, again, count);
    // A server refuses a page larger than the login may ask for ("illegal pagedResults page
    // size") before it sends anything; smaller pages then do, and stay in use for the session.
    while (outcome.code == kLdapAdminLimitExceeded && taken == 0 && pageSize_ > 1) {
        pageSize_ /= 2;
        outcome = ReadEach(dn, LdapScope::OneLevel, filter, pageSize_, attributes, again, count);
    }
    if (outcome.Ok()) {
        return true;
    }
    if (outcome.code != kLdapNoSuchObject) {
        std::string what = "listing " + (dn.empty() ? "[Root]" : dn);
        if (outcome.code == kLdapSizeLimitExceeded || outcome.code == kLdapAdminLimitExceeded) {
            what +=
                " was cut short by the server's limits for this login (olcLimits: it "
                "needs size.prtotal=unlimited and a size.pr of at least 1; "
                "docs/directory-client.md)";
        }
        lookupFailure_ = Failed(outcome, what);
    }
    restart();
    return false;
}

std::vector<const store::Entry*> LdapStore::ListBelow(std::string_view container,
                                                      const std::string& filter,
                                                      bool namesOnly) const {
    // A listing is a new look at the directory: names found missing before are looked for
    // again (the entries it lists are known at once).
    absent_.clear();
    const std::optional<std::string> dn = ContainerDn(container);
    if (!dn) {
        return {};
    }
    const std::vector<std::string> attributes{namesOnly ? "objectClass" : "*"};
    // Each entry is kept as it arrives, while its encoding is still at hand; a group whose
    // members are named by uid waits for the end, as its members are looked up with reads of
    // their own.
    std::vector<std::pair<std::string, const store::Entry*>> children;
    std::vector<LdapEntry> groupsByUid;
    auto keep = [&](LdapEntry&& read) {
        if (const Cached* taken = Take(std::move(read), namesOnly)) {
            children.emplace_back(store::LeafName(taken->entry.name), &taken->entry);
        }
    };
    auto restart = [&] {
        children.clear();
        groupsByUid.clear();
    };
    auto take = [&](LdapEntry&& read) {
        const bool byUid =
            std::any_of(read.attributes.begin(), read.attributes.end(), [](const auto& attribute) {
                return store::EqualsIgnoreCase(attribute.first, "memberUid");
            });
        if (byUid) {
            groupsByUid.push_back(std::move(read));
        } else {
            keep(std::move(read));
        }
    };
    if (!SearchOneLevel(*dn, filter, attributes, restart, take)) {
        return {};
    }
    for (LdapEntry& read : groupsByUid) {
        keep(std::move(read));
    }
    std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
        return store::CaseInsensitiveLess()(a.first, b.first);
    });
    std::vector<const store::Entry*> out;
    out.reserve(children.size());
    for (const auto& child : children) {
        out.push_back(child.second);
    }
    return out;
}

std::vector<const store::Entry*> LdapStore::Children(std::string_view container) const {
    return ListBelow(container, "(objectClass=*)", false);
}

namespace {

// "(|(objectClass=a)(objectClass=b))" for the classes named, each once; "" for none.
std::string AnyOfClasses(std::vector<std::string> classes) {
    std::sort(classes.begin(), classes.end(), store::CaseInsensitiveLess());
    classes.erase(std::unique(classes.begin(), classes.end(),
                              [](const std::string& a, const std::string& b) {
                                  return store::EqualsIgnoreCase(a, b);
                              }),
                  classes.end());
    std::string filter;
    for (const std::string& objectClass : classes) {
        filter += "(objectClass=" + EscapeFilterValue(objectClass) + ")";
    }
    return classes.size() > 1 ? "(|" + filter + ")" : filter;
}

}  // namespace

std::string LdapStore::ClassFilter(std::string_view className) const {
    const ObjectClasses& site = settings_.classes;
    std::vector<std::string> classes;
    if (store::EqualsIgnoreCase(className, "User")) {
        classes = site.users;
    } else if (store::EqualsIgnoreCase(className, "Group")) {
        classes = site.groups;
    } else if (store::EqualsIgnoreCase(className, "Organizational Unit") ||
               store::EqualsIgnoreCase(className, "Organization")) {
        // A domain is either, by where it stands; the entries taken say which.
        classes = site.containers;
    }
    for (const store::ClassDef& definition : schema_.Classes()) {
        if (store::EqualsIgnoreCase(definition.name, className)) {
            classes.push_back(definition.ldapName);
        }
    }
    return AnyOfClasses(std::move(classes));
}

std::vector<const store::Entry*> LdapStore::ChildrenOfClass(std::string_view container,
                                                            std::string_view className) const {
    const std::string filter = ClassFilter(className);
    if (filter.empty()) {
        return Store::ChildrenOfClass(container, className);
    }
    // The filter finds every entry of the class, and perhaps a few more: an entry of several
    // kinds (a person that is also a group) is the one its classes make it, as in Children().
    // Only the names and classes are asked for: under Wine each value the library hands over
    // costs more than the server's search. (A batch over a context's users lists them whole,
    // with Children(), to take each account's value from the listing.)
    std::vector<const store::Entry*> children = ListBelow(container, filter, true);
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const store::Entry* child) {
                                      return !store::EqualsIgnoreCase(child->objectClass,
                                                                      className);
                                  }),
                   children.end());
    return children;
}

}  // namespace tally::ldap
