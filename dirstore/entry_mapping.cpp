#include "dirstore/entry_mapping.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "dirstore/names.h"

namespace tally::store {
namespace {

bool ParseInt32(std::string_view text, std::int32_t& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool IsCaseIgnoringSyntax(std::uint32_t syntax) {
    return syntax == 1 || syntax == 3 || syntax == 20;
}

bool SameValue(const AttributeDef& def, std::string_view a, std::string_view b) {
    return IsCaseIgnoringSyntax(def.syntax) ? EqualsIgnoreCase(a, b) : a == b;
}

bool IsIntegerSyntax(std::uint32_t syntax) {
    return syntax == 8 || syntax == 22;
}

// Integers are held in their shortest decimal form, whichever way they came in ("+05" is "5").
Status CanonicalInteger(std::string_view text, std::string& out) {
    std::int32_t number = 0;
    if (!ParseInt32(text, number)) {
        return kBadSyntax;
    }
    out = std::to_string(number);
    return kOk;
}

// Sets the attribute to `held` with `values` joined, refused as an LDAP server refuses them (a
// value given twice, or a second value of a single-valued attribute), which leaves it as it was.
Status SetJoined(const AttributeDef& def, std::vector<std::string> held,
                 const std::vector<std::string>& values, AttributeMap& attributes) {
    for (const std::string& value : values) {
        if (HoldsValue(def, held, value)) {
            return kDuplicateValue;
        }
        held.push_back(value);
    }
    if (def.singleValued && held.size() > 1) {
        return kSingleValued;
    }
    attributes[def.name] = std::move(held);
    return kOk;
}

}  // namespace

bool HoldsValue(const AttributeDef& def, const std::vector<std::string>& values,
                std::string_view value) {
    return std::any_of(values.begin(), values.end(),
                       [&](const std::string& held) { return SameValue(def, held, value); });
}

bool EntryFromRecord(const Schema& schema, const LdifRecord& record, Entry& entry,
                     std::string* normalDn, std::vector<LdifValue>* foreign, std::string* error) {
    std::vector<Rdn> rdns;
    if (!ParseDn(record.dn, rdns, error) || rdns.empty()) {
        return false;
    }
    if (normalDn != nullptr) {
        *normalDn = FormatDn(rdns);
    }
    entry.name = TypelessFromRdns(rdns);
    std::vector<std::string>& classNames = entry.attributes[std::string(kObjectClassAttribute)];
    for (const LdifValue& value : record.values) {
        if (EqualsIgnoreCase(value.attribute, "objectClass")) {
            const ClassDef* known = schema.ClassByLdapName(value.value);
            classNames.push_back(known ? known->name : value.value);
            continue;
        }
        const AttributeDef* def = schema.AttributeByLdapName(value.attribute);
        if (!def) {
            if (foreign != nullptr) {
                foreign->push_back(value);
            }
            continue;
        }
        std::string stored;
        if (StoredValueOf(schema, *def, value.value, stored) != kOk) {
            *error = "bad value of \"" + value.attribute + "\" (line " +
                     std::to_string(value.line) + ")";
            return false;
        }
        std::vector<std::string>& values = entry.attributes[def->name];
        if (HoldsValue(*def, values, stored)) {
            *error = "\"" + value.attribute + "\" holds the value \"" + value.value + "\" twice";
            return false;
        }
        values.push_back(std::move(stored));
        if (def->singleValued && values.size() > 1) {
            *error = "\"" + value.attribute + "\" holds a single value, found more";
            return false;
        }
    }
    if (classNames.empty()) {
        *error = "entry without objectClass";
        return false;
    }
    for (const std::string& name : classNames) {
        if (!EqualsIgnoreCase(name, "Top")) {
            entry.objectClass = name;
            if (schema.ObjectClass(name)) {
                break;
            }
        }
    }
    if (entry.objectClass.empty()) {
        entry.objectClass = classNames.front();
    }
    if (!schema.ObjectClass(entry.objectClass)) {
        *error = "unknown object class \"" + entry.objectClass + "\"";
        return false;
    }
    // The naming value belongs to the entry even when the record leaves it to the DN.
    const AttributeDef* naming = schema.AttributeByLdapName(rdns.front().type);
    if (naming) {
        std::vector<std::string>& values = entry.attributes[naming->name];
        bool present = std::any_of(values.begin(), values.end(), [&](const std::string& v) {
            return EqualsIgnoreCase(v, rdns.front().value);
        });
        if (!present) {
            values.insert(values.begin(), rdns.front().value);
        }
    }
    return true;
}

Status StoredValueOf(const Schema& schema, const AttributeDef& def, std::string_view ldif,
                     std::string& out) {
    switch (def.syntax) {
        case 1: {
            std::vector<Rdn> rdns;
            if (!ParseDn(ldif, rdns, nullptr)) {
                return kBadSyntax;
            }
            out = TypelessFromRdns(rdns);
            return kOk;
        }
        case 7:
            if (ldif != "TRUE" && ldif != "FALSE") {
                return kBadSyntax;
            }
            out = std::string(ldif);
            return kOk;
        case 8:
        case 22:
            return CanonicalInteger(ldif, out);
        case 20: {
            const ClassDef* known = schema.ClassByLdapName(ldif);
            out = known ? known->name : std::string(ldif);
            return kOk;
        }
        default:
            out = std::string(ldif);
            return kOk;
    }
}

Status LdapValueOf(const Schema& schema, const AttributeDef& def, std::string_view value,
                   const DnOfName& dnOf, std::string& out) {
    switch (def.syntax) {
        case 1: {
            std::vector<std::string> parts;
            if (!SplitTypeless(value, parts)) {
                return kBadSyntax;
            }
            out = dnOf(value);
            return kOk;
        }
        case 3:
            if (value.empty()) {
                return kBadSyntax;
            }
            out = std::string(value);
            return kOk;
        case 7:
            if (EqualsIgnoreCase(value, "TRUE")) {
                out = "TRUE";
            } else if (EqualsIgnoreCase(value, "FALSE")) {
                out = "FALSE";
            } else {
                return kBadSyntax;
            }
            return kOk;
        case 8:
        case 22:
            return CanonicalInteger(value, out);
        case 20: {
            const ClassDef* known = schema.ObjectClass(value);
            out = known ? known->ldapName : std::string(value);
            return kOk;
        }
        default:
            out = std::string(value);
            return kOk;
    }
}

// Applies one LDIF modification as an LDAP server would, so that the journal replayed here and
// by ldapmodify ends in the same values.
Status ApplyLdifMod(const Schema& schema, Entry& entry, const LdifMod& mod) {
    const AttributeDef* def = schema.AttributeByLdapName(mod.attribute);
    if (!def) {
        return kNoSuchAttribute;
    }
    const ClassDef* objectClass = schema.ObjectClass(entry.objectClass);
    if (!objectClass) {
        return kNoSuchClass;
    }
    const AttributeDef* naming = schema.NamingAttribute(*objectClass);
    if (!schema.Allows(*objectClass, def->name) || def == naming ||
        def->name == kObjectClassAttribute) {
        return kIllegalAttribute;
    }
    std::vector<std::string> values;
    for (const std::string& ldif : mod.values) {
        std::string value;
        if (StoredValueOf(schema, *def, ldif, value) != kOk) {
            return kBadSyntax;
        }
        values.push_back(std::move(value));
    }
    AttributeMap& attributes = entry.attributes;
    auto found = attributes.find(def->name);
    switch (mod.op) {
        case ModOp::Add:
            return SetJoined(*def,
                             found == attributes.end() ? std::vector<std::string>{} : found->second,
                             values, attributes);
        case ModOp::Replace:
            if (values.empty()) {
                if (found != attributes.end()) {
                    attributes.erase(found);
                }
                return kOk;
            }
            return SetJoined(*def, {}, values, attributes);
        case ModOp::Delete: {
            if (found == attributes.end()) {
                return kNoSuchAttribute;
            }
            if (values.empty()) {
                attributes.erase(found);
                return kOk;
            }
            std::vector<std::string>& current = found->second;
            for (const std::string& value : values) {
                auto at = std::find_if(current.begin(), current.end(), [&](const std::string& v) {
                    return SameValue(*def, v, value);
                });
                if (at == current.end()) {
                    return kNoSuchValue;
                }
                current.erase(at);
            }
            if (current.empty()) {
                attributes.erase(found);
            }
            return kOk;
        }
        case ModOp::Increment: {
            if (!IsIntegerSyntax(def->syntax)) {
                return kBadSyntax;
            }
            if (found == attributes.end()) {
                return kNoSuchAttribute;
            }
            std::int32_t amount = 0;
            ParseInt32(values.front(), amount);
            for (std::string& value : found->second) {
                std::int32_t current = 0;
                ParseInt32(value, current);
                std::int64_t sum = std::int64_t{current} + amount;
                if (sum < std::numeric_limits<std::int32_t>::min() ||
                    sum > std::numeric_limits<std::int32_t>::max()) {
                    return kBadSyntax;  // the amount would not fit the 32 bits callers read
                }
                value = std::to_string(sum);
            }
            return kOk;
        }
    }
    return kBadSyntax;
}

Status PlanChange(const Schema& schema, Entry& working, const Change& change, const DnOfName& dnOf,
                  std::vector<LdifMod>& mods) {
    const AttributeDef* def = schema.Attribute(change.attribute);
    if (!def) {
        return kNoSuchAttribute;
    }
    bool present = working.attributes.count(def->name) > 0;
    LdifMod mod;
    mod.attribute = def->ldapName;
    if (change.kind == ChangeKind::Clear) {
        if (!present) {
            return kOk;  // nothing to clear; an LDAP server would refuse the delete
        }
        mod.op = ModOp::Delete;
    } else {
        std::string value;
        Status status = LdapValueOf(schema, *def, change.value, dnOf, value);
        if (status != kOk) {
            return status;
        }
        mod.values.push_back(std::move(value));
        if (change.kind == ChangeKind::Overwrite) {
            mod.op = ModOp::Replace;
        } else if (def->syntax == 22 && present) {
            mod.op = ModOp::Increment;
        } else {
            mod.op = ModOp::Add;  // a counter not yet held starts from the amount added
        }
    }
    Status status = ApplyLdifMod(schema, working, mod);
    if (status != kOk) {
        return status;
    }
    mods.push_back(std::move(mod));
    return kOk;
}

}  // namespace tally::store
