// The one mapping between an LDAP entry (its DN, objectClass values, LDAP attribute names and
// value texts) and the directory's Entry (typeless names, directory class and attribute names,
// the store's interface text), by the schema. The embedded store reads and writes its LDIF files
// with it; the directory client's LDAP backend reads a server's entries and plans its changes
// with the same functions, so both agree on every name, value and refusal.
//
// DNs here are relative to the top of the directory ("[Root]"): the embedded store's top is the
// empty DN; an LDAP server's is the configured base, which its backend strips before and adds
// after.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dirstore/ldif.h"
#include "dirstore/schema.h"
#include "dirstore/store.h"

namespace tally::store {

// The DN of a typeless full name, for values of DN syntax (Member).
using DnOfName = std::function<std::string(std::string_view fullName)>;

inline constexpr std::string_view kObjectClassAttribute = "Object Class";

// Whether `values` holds `value`, compared as the attribute's syntax compares (ignoring case for
// names and strings).
bool HoldsValue(const AttributeDef& def, const std::vector<std::string>& values,
                std::string_view value);

// An LDAP value as the store holds it: DN values as typeless names, integers in their shortest
// form, class names as the directory's.
Status StoredValueOf(const Schema& schema, const AttributeDef& def, std::string_view ldap,
                     std::string& out);
// A store value as LDAP writes it; kBadSyntax when the syntax cannot hold it.
Status LdapValueOf(const Schema& schema, const AttributeDef& def, std::string_view value,
                   const DnOfName& dnOf, std::string& out);

// The entry a content (or add) record describes, and (when asked for) its DN as FormatDn()
// writes it. Values of attributes the schema does not know go to `foreign` when given. False
// with the reason in `error` when the record cannot be an entry of this directory.
bool EntryFromRecord(const Schema& schema, const LdifRecord& record, Entry& entry,
                     std::string* normalDn, std::vector<LdifValue>* foreign, std::string* error);

// Applies one modification to `entry` as an LDAP server would (the same refusals).
Status ApplyLdifMod(const Schema& schema, Entry& entry, const LdifMod& mod);

// Turns one change of the store's interface into the LDIF modification that makes it on
// `working` (an increment for a counter that is held, an add for one that is not, a replace, a
// delete; nothing for a clear of what is not held), applies it to `working` and appends it.
Status PlanChange(const Schema& schema, Entry& working, const Change& change, const DnOfName& dnOf,
                  std::vector<LdifMod>& mods);

}  // namespace tally::store
