// The directory's schema: attribute and class definitions read from schema.ldif (an OpenLDAP
// schema entry whose X-NDS-* extensions carry the directory's names and syntax numbers), plus
// the few definitions that come from OpenLDAP's core schema.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dirstore/store.h"

namespace tally::store {

enum ItemList : std::size_t {
    kSuperClasses = 0,
    kContainment = 1,
    kNamingAttributes = 2,
    kMandatory = 3,
    kOptional = 4,
};

class Schema {
  public:
    // Reads the schema file; the core definitions are always present.
    bool Load(const std::filesystem::path& file, Problem* problem);
    // Reads schema text already in memory (`file` names it in messages).
    bool LoadText(std::string_view text, const std::filesystem::path& file, Problem* problem);

    const AttributeDef* Attribute(std::string_view name) const;
    const AttributeDef* AttributeByLdapName(std::string_view ldapName) const;
    const ClassDef* ObjectClass(std::string_view name) const;
    const ClassDef* ClassByLdapName(std::string_view ldapName) const;
    const std::vector<AttributeDef>& Attributes() const { return attributes_; }
    const std::vector<ClassDef>& Classes() const { return classes_; }

    // The attribute that names objects of the class ("CN"), or null.
    const AttributeDef* NamingAttribute(const ClassDef& objectClass) const;
    // Whether objects of the class may hold the attribute (its own lists or a super class's).
    bool Allows(const ClassDef& objectClass, std::string_view attribute, int depth = 0) const;
    // Whether an object of class `child` may be placed in one of class `container`; a class
    // without containment classes lives at the top of the tree.
    bool MayContain(const ClassDef* container, const ClassDef& child) const;

  private:
    void AddCoreDefinitions();
    void Index();
    std::vector<AttributeDef> attributes_;
    std::vector<ClassDef> classes_;
    // Hashed: every value of every entry a server sends is looked up here.
    std::unordered_map<std::string, std::size_t, CaseInsensitiveHash, CaseInsensitiveEqual>
        attributeByName_, attributeByLdap_, classByName_, classByLdap_;
};

}  // namespace tally::store
