// A test over a store laid fresh in a scratch folder of its own for every case.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "dirstore/store.h"
#include "store_fixture.h"

namespace tally::store::testing {

class FreshStoreTest : public ::testing::Test {
  protected:
    explicit FreshStoreTest(std::string_view tag) : folder_(tag) {}

    void SetUp() override { LayStore(folder_.Path()); }

    std::unique_ptr<Store> Open() {
        Problem problem;
        auto store = Store::Open(folder_.Path(), &problem);
        EXPECT_NE(store, nullptr) << problem.Describe();
        return store;
    }

    // The values of `attr` joined with '|', or "<no entry>" / "<absent>".
    static std::string Value(const Store& store, std::string_view name, const std::string& attr) {
        const Entry* entry = store.Find(name);
        if (!entry) {
            return "<no entry>";
        }
        auto found = entry->attributes.find(attr);
        if (found == entry->attributes.end()) {
            return "<absent>";
        }
        std::string joined;
        for (const std::string& v : found->second) {
            joined += (joined.empty() ? "" : "|") + v;
        }
        return joined;
    }

    ScratchFolder folder_;
};

}  // namespace tally::store::testing
