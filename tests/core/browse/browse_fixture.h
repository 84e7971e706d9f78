// The browsing code runs against the directory client over an in-memory tree: the program-wide
// directory context on "SALES.CORP", the account schema chosen by a keyword.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../directory/fake_store.h"
#include "directory/dirclient.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "program/settings.h"

namespace tally::testing {

inline directory::ClientConfig browseConfig() {
    directory::ClientConfig config;
    config.loginUser = "ADMIN.CORP";
    config.loginContext = "SALES.CORP";
    config.defaultServer = "ACCT1";
    config.servers = {"ACCT1"};
    return config;
}

// CORP with SALES (users, a group, a sub-unit) and ACCOUNTS; a second organization WIDGETS.
inline std::unique_ptr<FakeStore> browseTree() {
    auto tree = std::make_unique<FakeStore>();
    tree->add("CORP", "Organization")
        .add("WIDGETS", "Organization")
        .add("ADMIN.CORP", "User", {{"Full Name", {"Network Administrator"}}})
        .add("SALES.CORP", "Organizational Unit")
        .add("EAST.SALES.CORP", "Organizational Unit")
        .add("ACCOUNTS.CORP", "Organizational Unit")
        .add("EMPTY.CORP", "Organizational Unit")
        .add("JSMITH.SALES.CORP", "User",
             {{"Full Name", {"John Smith"}},
              {"Account Balance", {"1500"}},
              {"Minimum Account Balance", {"-200"}},
              {"Allow Unlimited Credit", {"FALSE"}},
              {"JOBTALLY:Colour Balance", {"-150"}},
              {"JOBTALLY:Colour Limit", {"2500"}},
              {"JOBTALLY:Colour Nolimit", {"TRUE"}}})
        .add("MJONES.SALES.CORP", "User", {{"Account Balance", {"120"}}})
        .add("NOACCOUNT.SALES.CORP", "User")
        .add("STAFF.SALES.CORP", "Group",
             {{"Member", {"JSMITH.SALES.CORP", "ADMIN.CORP"}}, {"Full Name", {"Sales Staff"}}})
        .add("BARE.SALES.CORP", "Group")
        .add("FYOUNG.ACCOUNTS.CORP", "User", {{"Account Balance", {"5"}}});
    return tree;
}

class BrowseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto tree = browseTree();
        store = tree.get();
        DirClientUseStore(browseConfig(), std::move(tree));
        DirectoryContext = DirCreateContext();
        CurrentContextName = "SALES.CORP";
        useSchema("Standard Netware");
    }
    void TearDown() override {
        DirClientReset();
        gSettings = Settings{};
        CurrentContextName.clear();
    }

    void useSchema(const char* keyword) { gSettings.Schema = SelectAccountSchema(keyword); }

    // Integer mode, or decimal with two currency digits.
    static void useIntegerAmounts() {
        gSettings.NumericalFormat = 1;
        gSettings.CurrencyDigits = 2;
        gSettings.AmountScale = 100;
    }
    static void useDecimalAmounts() {
        gSettings.NumericalFormat = kNumericalFormatCurrency;
        gSettings.CurrencyDigits = 2;
        gSettings.AmountScale = 100;
        gSettings.AmountFormat = "%.2f";
        gSettings.AmountColumnFormat = "%8.2f";
    }

    std::string stored(const std::string& object, const std::string& attribute) {
        const store::Entry* entry = store->Find(object);
        if (entry == nullptr) {
            return "<no object>";
        }
        auto found = entry->attributes.find(attribute);
        if (found == entry->attributes.end() || found->second.empty()) {
            return "<none>";
        }
        return found->second.front();
    }

    FakeStore* store = nullptr;
};

}  // namespace tally::testing
