#include "dirstore/schema.h"

#include <cctype>

#include "dirstore/ldif.h"
#include "dirstore/names.h"
#include "platform/files.h"

namespace tally::store {
namespace {

// A definition's value as a list of tokens: "(", ")", "$", quoted strings (quotes removed,
// marked by `quoted`) and bare words.
struct Token {
    std::string text;
    bool quoted = false;
};

bool Tokenize(std::string_view text, std::vector<Token>& tokens, std::string* error) {
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '(' || c == ')' || c == '$') {
            tokens.push_back({std::string(1, c), false});
            ++i;
        } else if (c == '\'') {
            std::size_t end = text.find('\'', i + 1);
            if (end == std::string_view::npos) {
                *error = "unterminated quoted string";
                return false;
            }
            tokens.push_back({std::string(text.substr(i + 1, end - i - 1)), true});
            i = end + 1;
        } else {
            std::size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
                   text[i] != '(' && text[i] != ')' && text[i] != '$' && text[i] != '\'') {
                ++i;
            }
            tokens.push_back({std::string(text.substr(start, i - start)), false});
        }
    }
    return true;
}

// Keyword -> its arguments (a single word, or a parenthesised list).
using Fields = std::map<std::string, std::vector<std::string>, CaseInsensitiveLess>;

bool IsFlagKeyword(std::string_view word) {
    for (std::string_view flag : {"OBSOLETE", "SINGLE-VALUE", "COLLECTIVE", "NO-USER-MODIFICATION",
                                  "ABSTRACT", "STRUCTURAL", "AUXILIARY"}) {
        if (EqualsIgnoreCase(word, flag)) {
            return true;
        }
    }
    return false;
}

bool ParseDefinition(std::string_view text, Fields& fields, std::string* error) {
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens, error)) {
        return false;
    }
    if (tokens.size() < 3 || tokens.front().text != "(" || tokens.back().text != ")") {
        *error = "definition must be \"( oid ... )\"";
        return false;
    }
    std::size_t i = 2;  // after "(" and the OID
    while (i + 1 < tokens.size()) {
        const Token& keyword = tokens[i++];
        if (keyword.quoted || keyword.text == "(" || keyword.text == "$") {
            *error = "unexpected \"" + keyword.text + "\"";
            return false;
        }
        std::vector<std::string>& args = fields[keyword.text];
        if (IsFlagKeyword(keyword.text)) {
            continue;
        }
        if (i + 1 >= tokens.size()) {
            *error = keyword.text + " without a value";
            return false;
        }
        if (tokens[i].text == "(" && !tokens[i].quoted) {
            ++i;
            while (i < tokens.size() && !(tokens[i].text == ")" && !tokens[i].quoted)) {
                if (!(tokens[i].text == "$" && !tokens[i].quoted)) {
                    args.push_back(tokens[i].text);
                }
                ++i;
            }
            if (i + 1 >= tokens.size()) {
                *error = "unterminated list after " + keyword.text;
                return false;
            }
            ++i;
        } else {
            args.push_back(tokens[i++].text);
        }
    }
    return true;
}

std::string FirstOf(const Fields& fields, std::string_view key) {
    auto found = fields.find(key);
    return (found == fields.end() || found->second.empty()) ? std::string() : found->second[0];
}

const std::vector<std::string>& ListOf(const Fields& fields, std::string_view key) {
    static const std::vector<std::string> kNone;
    auto found = fields.find(key);
    return found == fields.end() ? kNone : found->second;
}

// Syntax numbers for LDAP syntaxes, when a definition does not state X-NDS-SYNTAX.
std::uint32_t SyntaxFromLdap(std::string_view oid) {
    std::string_view base = oid.substr(0, oid.find('{'));
    if (base == "1.3.6.1.4.1.1466.115.121.1.27") {
        return 8;
    }
    if (base == "1.3.6.1.4.1.1466.115.121.1.7") {
        return 7;
    }
    if (base == "1.3.6.1.4.1.1466.115.121.1.12") {
        return 1;
    }
    if (base == "1.3.6.1.4.1.1466.115.121.1.40") {
        return 9;
    }
    return 3;
}

bool Fail(Problem* problem, const std::filesystem::path& file, int line, std::string message) {
    if (problem) {
        *problem = Problem{file, line, std::move(message)};
    }
    return false;
}

}  // namespace

bool Schema::Load(const std::filesystem::path& file, Problem* problem) {
    std::string text;
    std::string error;
    if (!platform::ReadWholeFile(file, text, &error)) {
        return Fail(problem, file, 0, error);
    }
    return LoadText(text, file, problem);
}

bool Schema::LoadText(std::string_view text, const std::filesystem::path& file, Problem* problem) {
    attributes_.clear();
    classes_.clear();
    AddCoreDefinitions();
    std::vector<LdifRecord> records;
    if (!ParseLdif(text, file, 1, records, problem)) {
        return false;
    }
    std::vector<const LdifValue*> classValues;
    for (const LdifRecord& record : records) {
        for (const LdifValue& value : record.values) {
            if (EqualsIgnoreCase(value.attribute, "olcObjectClasses") ||
                EqualsIgnoreCase(value.attribute, "objectClasses")) {
                classValues.push_back(&value);
                continue;
            }
            if (!EqualsIgnoreCase(value.attribute, "olcAttributeTypes") &&
                !EqualsIgnoreCase(value.attribute, "attributeTypes")) {
                continue;
            }
            Fields fields;
            std::string error;
            if (!ParseDefinition(value.value, fields, &error)) {
                return Fail(problem, file, value.line, "attribute type: " + error);
            }
            AttributeDef def;
            def.ldapName = FirstOf(fields, "NAME");
            if (def.ldapName.empty()) {
                return Fail(problem, file, value.line, "attribute type without NAME");
            }
            def.name = FirstOf(fields, "X-NDS-NAME");
            if (def.name.empty()) {
                def.name = def.ldapName;
            }
            std::string syntax = FirstOf(fields, "X-NDS-SYNTAX");
            try {
                def.syntax = syntax.empty() ? SyntaxFromLdap(FirstOf(fields, "SYNTAX"))
                                            : static_cast<std::uint32_t>(std::stoul(syntax));
            } catch (const std::exception&) {
                return Fail(problem, file, value.line,
                            "X-NDS-SYNTAX \"" + syntax + "\" is not a number");
            }
            def.singleValued = fields.count("SINGLE-VALUE") > 0;
            attributes_.push_back(std::move(def));
        }
    }
    Index();
    for (const LdifValue* value : classValues) {
        Fields fields;
        std::string error;
        if (!ParseDefinition(value->value, fields, &error)) {
            return Fail(problem, file, value->line, "object class: " + error);
        }
        ClassDef def;
        def.ldapName = FirstOf(fields, "NAME");
        if (def.ldapName.empty()) {
            return Fail(problem, file, value->line, "object class without NAME");
        }
        if (fields.count("AUXILIARY") > 0) {
            // An auxiliary class only lets an entry of another class hold its attributes (the
            // account attributes on a site's own people); no directory object is of it.
            continue;
        }
        def.name = FirstOf(fields, "X-NDS-NAME");
        if (def.name.empty()) {
            def.name = def.ldapName;
        }
        for (const std::string& super : ListOf(fields, "SUP")) {
            const ClassDef* known = ClassByLdapName(super);
            def.itemLists[kSuperClasses].push_back(known ? known->name : super);
        }
        def.itemLists[kContainment] = ListOf(fields, "X-NDS-CONTAINMENT");
        for (auto [key, list] : {std::pair{"MUST", kMandatory}, std::pair{"MAY", kOptional}}) {
            for (const std::string& ldapName : ListOf(fields, key)) {
                const AttributeDef* attr = AttributeByLdapName(ldapName);
                if (!attr) {
                    return Fail(problem, file, value->line,
                                "class \"" + def.ldapName + "\" names the undefined attribute \"" +
                                    ldapName + "\"");
                }
                def.itemLists[list].push_back(attr->name);
            }
        }
        for (const std::string& must : def.itemLists[kMandatory]) {
            if (EqualsIgnoreCase(must, "CN") || EqualsIgnoreCase(must, "OU") ||
                EqualsIgnoreCase(must, "O")) {
                def.itemLists[kNamingAttributes].push_back(must);
                break;
            }
        }
        classes_.push_back(std::move(def));
        Index();
    }
    return true;
}

void Schema::AddCoreDefinitions() {
    attributes_.push_back({"CN", "cn", 3, false});
    attributes_.push_back({"O", "o", 3, false});
    attributes_.push_back({"OU", "ou", 3, false});
    attributes_.push_back({"Member", "member", 1, false});
    attributes_.push_back({"Object Class", "objectClass", 20, false});

    ClassDef top{"Top", "top", {}};
    top.itemLists[kMandatory] = {"Object Class"};
    classes_.push_back(top);
    const std::vector<std::string> topOnly = {"Top"};
    ClassDef organization{"Organization", "organization", {}};
    organization.itemLists[kSuperClasses] = topOnly;
    organization.itemLists[kNamingAttributes] = {"O"};
    organization.itemLists[kMandatory] = {"O"};
    classes_.push_back(organization);
    ClassDef unit{"Organizational Unit", "organizationalUnit", {}};
    unit.itemLists[kSuperClasses] = topOnly;
    unit.itemLists[kContainment] = {"Organization", "Organizational Unit"};
    unit.itemLists[kNamingAttributes] = {"OU"};
    unit.itemLists[kMandatory] = {"OU"};
    classes_.push_back(unit);
    Index();
}

void Schema::Index() {
    attributeByName_.clear();
    attributeByLdap_.clear();
    classByName_.clear();
    classByLdap_.clear();
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
        attributeByName_.emplace(attributes_[i].name, i);
        attributeByLdap_.emplace(attributes_[i].ldapName, i);
    }
    for (std::size_t i = 0; i < classes_.size(); ++i) {
        classByName_.emplace(classes_[i].name, i);
        classByLdap_.emplace(classes_[i].ldapName, i);
    }
}

const AttributeDef* Schema::Attribute(std::string_view name) const {
    auto found = attributeByName_.find(name);
    return found == attributeByName_.end() ? nullptr : &attributes_[found->second];
}

const AttributeDef* Schema::AttributeByLdapName(std::string_view ldapName) const {
    auto found = attributeByLdap_.find(ldapName);
    return found == attributeByLdap_.end() ? nullptr : &attributes_[found->second];
}

const ClassDef* Schema::ObjectClass(std::string_view name) const {
    auto found = classByName_.find(name);
    return found == classByName_.end() ? nullptr : &classes_[found->second];
}

const ClassDef* Schema::ClassByLdapName(std::string_view ldapName) const {
    auto found = classByLdap_.find(ldapName);
    return found == classByLdap_.end() ? nullptr : &classes_[found->second];
}

const AttributeDef* Schema::NamingAttribute(const ClassDef& objectClass) const {
    const auto& naming = objectClass.itemLists[kNamingAttributes];
    return naming.empty() ? nullptr : Attribute(naming.front());
}

bool Schema::Allows(const ClassDef& objectClass, std::string_view attribute, int depth) const {
    if (depth > 16) {
        return false;  // a schema whose classes derive from each other in a circle
    }
    for (std::size_t list : {kMandatory, kOptional}) {
        for (const std::string& name : objectClass.itemLists[list]) {
            if (EqualsIgnoreCase(name, attribute)) {
                return true;
            }
        }
    }
    for (const std::string& super : objectClass.itemLists[kSuperClasses]) {
        const ClassDef* parent = this->ObjectClass(super);
        if (parent && Allows(*parent, attribute, depth + 1)) {
            return true;
        }
    }
    return false;
}

bool Schema::MayContain(const ClassDef* container, const ClassDef& child) const {
    const auto& containment = child.itemLists[kContainment];
    if (!container) {
        return containment.empty();
    }
    for (const std::string& name : containment) {
        if (EqualsIgnoreCase(name, container->name)) {
            return true;
        }
    }
    return false;
}

}  // namespace tally::store
