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

inline directory::ClientConfig BrowseConfig() {
    directory::ClientConfig config;
    config.loginUser = "ADMIN.CORP";
    config.loginContext = "SALES.CORP";
    config.defaultServer = "ACCT1";
    config.servers = {"ACCT1"};
    return config;
}

// CORP with SALES (users, a group, a sub-unit) and ACCOUNTS; a second organization WIDGETS.
inline std::unique_ptr<FakeStore> BrowseTree() {
    auto tree = std::make_unique<FakeStore>();
    tree->Add("CORP", "Organization")
        .Add("WIDGETS", "Organization")
        .Add("ADMIN.CORP", "User", {{"Full Name", {"Network Administrator"}}})
        .Add("SALES.CORP", "Organizational Unit")
        .Add("EAST.SALES.CORP", "Organizational Unit")
        .Add("ACCOUNTS.CORP", "Organizational Unit")
        .Add("EMPTY.CORP", "Organizational Unit")
        .Add("JSMITH.SALES.CORP", "User",
             {{"Full Name", {"John Smith"}},
              {"Account Balance", {"1500"}},
              {"Minimum Account Balance", {"-200"}},
              {"Allow Unlimited Credit", {"FALSE"}},
              {"JOBTALLY:Colour Balance", {"-150"}},
              {"JOBTALLY:Colour Limit", {"2500"}},
              {"JOBTALLY:Colour Nolimit", {"TRUE"}}})
        .Add("MJONES.SALES.CORP", "User", {{"Account Balance", {"120"}}})
        .Add("NOACCOUNT.SALES.CORP", "User")
        .Add("STAFF.SALES.CORP", "Group",
             {{"Member", {"JSMITH.SALES.CORP", "ADMIN.CORP"}}, {"Full Name", {"Sales Staff"}}})
        .Add("BARE.SALES.CORP", "Group")
        .Add("FYOUNG.ACCOUNTS.CORP", "User", {{"Account Balance", {"5"}}});
    return tree;
}

class BrowseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto tree = BrowseTree();
        store_ = tree.get();
        DirClientUseStore(BrowseConfig(), std::move(tree));
        DirectoryContext = DirCreateContext();
        CurrentContextName = "SALES.CORP";
        UseSchema("Standard Netware");
    }
    void TearDown() override {
        DirClientReset();
        gSettings = Settings{};
        CurrentContextName.clear();
    }

    void UseSchema(const char* keyword) { gSettings.Schema = SelectAccountSchema(keyword); }

    // Integer mode, or decimal with two currency digits.
    static void UseIntegerAmounts() {
        gSettings.NumericalFormat = 1;
        gSettings.CurrencyDigits = 2;
        gSettings.AmountScale = 100;
    }
    static void UseDecimalAmounts() {
        gSettings.NumericalFormat = kNumericalFormatCurrency;
        gSettings.CurrencyDigits = 2;
        gSettings.AmountScale = 100;
        gSettings.AmountFormat = "%.2f";
        gSettings.AmountColumnFormat = "%8.2f";
    }

    std::string Stored(const std::string& object, const std::string& attribute) {
        const store::Entry* entry = store_->Find(object);
        if (entry == nullptr) {
            return "<no object>";
        }
        auto found = entry->attributes.find(attribute);
        if (found == entry->attributes.end() || found->second.empty()) {
            return "<none>";
        }
        return found->second.front();
    }

    FakeStore* store_ = nullptr;
};

}  // namespace tally::testing
