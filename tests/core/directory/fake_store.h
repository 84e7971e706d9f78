// An in-memory directory for the client's tests: the TallyDesk schema, entries added by the
// test, and a record of what the client asked the store to change.
#pragma once

#include <algorithm>
#include <charconv>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "directory/dirclient_names.h"
#include "dirstore/store.h"

namespace tally::testing {

class FakeStore : public store::Store {
  public:
    FakeStore() {
        using tally::store::AttributeDef;
        attributes_ = {
            {"CN", "cn", 3, true},
            {"OU", "ou", 3, true},
            {"O", "o", 3, true},
            {"Full Name", "fullName", 3, true},
            {"Account Balance", "accountBalance", 22, true},
            {"Minimum Account Balance", "minimumAccountBalance", 8, true},
            {"Allow Unlimited Credit", "allowUnlimitedCredit", 7, true},
            {"Network Address", "networkAddress", 12, false},
            {"Card Serial", "cardSerial", 9, true},
            {"Member", "member", 1, false},
            {"JOBTALLY:Colour Balance", "jobtallyColourBalance", 22, true},
            {"JOBTALLY:Colour Limit", "jobtallyColourLimit", 8, true},
            {"JOBTALLY:Colour Nolimit", "jobtallyColourNolimit", 7, true},
            {"JOBTALLY:Copier Balance", "jobtallyCopierBalance", 22, true},
            {"JOBTALLY:Copier Limit", "jobtallyCopierLimit", 8, true},
            {"JOBTALLY:Copier Nolimit", "jobtallyCopierNolimit", 7, true},
        };
        store::ClassDef user{"User", "tallyUser", {}};
        user.itemLists[0] = {"Top"};
        user.itemLists[1] = {"Organization", "Organizational Unit"};
        user.itemLists[2] = {"CN"};
        user.itemLists[3] = {"CN"};
        user.itemLists[4] = {"Full Name",
                             "Account Balance",
                             "Minimum Account Balance",
                             "Allow Unlimited Credit",
                             "Network Address",
                             "Card Serial",
                             "JOBTALLY:Colour Balance",
                             "JOBTALLY:Colour Limit",
                             "JOBTALLY:Colour Nolimit",
                             "JOBTALLY:Copier Balance",
                             "JOBTALLY:Copier Limit",
                             "JOBTALLY:Copier Nolimit"};
        store::ClassDef group{"Group", "tallyGroup", {}};
        group.itemLists[0] = {"Top"};
        group.itemLists[2] = {"CN"};
        group.itemLists[3] = {"CN"};
        group.itemLists[4] = {"Member", "Full Name"};
        classes_ = {user,
                    group,
                    {"NCP Server", "tallyFileServer", {}},
                    {"Organization", "organization", {}},
                    {"Organizational Unit", "organizationalUnit", {}}};
    }

    // Adds an object; its naming attribute is set from its name.
    FakeStore& Add(const std::string& name, const std::string& objectClass,
                   store::AttributeMap attributes = {}) {
        store::Entry entry{name, objectClass, std::move(attributes)};
        entry.attributes["CN"] = {std::string(directory::LeafOf(name))};
        entries_[Lower(name)] = std::move(entry);
        return *this;
    }

    store::Status Refresh() override {
        ++refreshes;
        return failRefresh ? store::kCorrupt : store::kOk;
    }

    const store::Entry* Find(std::string_view fullName) const override {
        auto found = entries_.find(Lower(fullName));
        return found == entries_.end() ? nullptr : &found->second;
    }

    std::vector<const store::Entry*> Children(std::string_view container) const override {
        std::vector<const store::Entry*> found;
        for (const auto& [key, entry] : entries_) {
            if (directory::SameName(directory::ContainerOf(entry.name), container)) {
                found.push_back(&entry);
            }
        }
        return found;
    }

    const store::AttributeDef* Attribute(std::string_view name) const override {
        for (const auto& definition : attributes_) {
            if (directory::SameName(definition.name, name)) {
                return &definition;
            }
        }
        return nullptr;
    }
    const std::vector<store::AttributeDef>& Attributes() const override { return attributes_; }
    const store::ClassDef* ObjectClass(std::string_view name) const override {
        for (const auto& definition : classes_) {
            if (directory::SameName(definition.name, name)) {
                return &definition;
            }
        }
        return nullptr;
    }
    const std::vector<store::ClassDef>& Classes() const override { return classes_; }

    // All or nothing, as the real store promises: every change is checked before any applies.
    store::Status Modify(std::string_view fullName,
                         const std::vector<store::Change>& changes) override {
        modifications.push_back(changes);
        auto found = entries_.find(Lower(fullName));
        if (found == entries_.end()) {
            return store::kNoSuchEntry;
        }
        store::Entry updated = found->second;
        for (const store::Change& change : changes) {
            const store::AttributeDef* definition = Attribute(change.attribute);
            if (definition == nullptr) {
                return store::kNoSuchAttribute;
            }
            auto& values = updated.attributes[definition->name];
            switch (change.kind) {
                case store::ChangeKind::Clear:
                    updated.attributes.erase(definition->name);
                    break;
                case store::ChangeKind::Overwrite:
                    values = {change.value};
                    break;
                case store::ChangeKind::AddValue:
                    if (definition->syntax == 22) {
                        long long sum = 0;
                        if (!Number(change.value, sum) ||
                            (!values.empty() && !AddTo(values.front(), sum))) {
                            return store::kBadSyntax;
                        }
                        values = {std::to_string(sum)};
                    } else {
                        values.push_back(change.value);
                    }
                    break;
            }
        }
        found->second = std::move(updated);
        return store::kOk;
    }

    store::Status AddEntry(const store::Entry& entry) override {
        entries_[Lower(entry.name)] = entry;
        return store::kOk;
    }
    store::Status Compact() override { return store::kOk; }
    store::Status Sync() override { return failSync ? store::kIoError : store::kOk; }
    const std::vector<store::Problem>& Warnings() const override { return warnings_; }

    bool failRefresh = false;
    bool failSync = false;
    int refreshes = 0;
    std::vector<std::vector<store::Change>> modifications;

  private:
    static std::string Lower(std::string_view text) {
        std::string folded(text);
        std::transform(folded.begin(), folded.end(), folded.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return folded;
    }
    static bool Number(const std::string& text, long long& value) {
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size();
    }
    static bool AddTo(const std::string& text, long long& sum) {
        long long held = 0;
        if (!Number(text, held)) {
            return false;
        }
        sum += held;
        return sum >= INT32_MIN && sum <= INT32_MAX;
    }

    std::map<std::string, store::Entry> entries_;
    std::vector<store::AttributeDef> attributes_;
    std::vector<store::ClassDef> classes_;
    std::vector<store::Problem> warnings_;
};

}  // namespace tally::testing
