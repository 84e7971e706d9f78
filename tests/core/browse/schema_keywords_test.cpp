#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "browse/schema_keywords.h"

namespace {

using ItemLists = std::array<std::vector<std::string>, 5>;

// A directory whose User class definition comes back in one or more passes, each with the
// five item lists; it checks the request the scan builds and counts the buffers in use.
class FakeClassDefinitions final : public ClassDefinitionReader {
  public:
    std::vector<ItemLists> passes;
    std::vector<std::size_t> allocatedSizes;
    int buffersInUse = 0;
    std::uint32_t requestKind = 0;
    std::string className;
    int failReadAtPass = -1;
    int failCountOfList = -1;  // in every pass
    int failItemOfList = -1;   // the second item of this list fails
    int failAllocation = -1;   // the n-th allocation fails

    DirStatus AllocBuffer(std::size_t size, DirBuffer** buffer) override {
        if (static_cast<int>(allocatedSizes.size()) == failAllocation) {
            allocatedSizes.push_back(size);
            return DIR_ERR_NO_MEMORY;
        }
        allocatedSizes.push_back(size);
        *buffer = reinterpret_cast<DirBuffer*>(&tokens_[allocatedSizes.size() % tokens_.size()]);
        ++buffersInUse;
        return 0;
    }
    DirStatus FreeBuffer(DirBuffer*) override {
        --buffersInUse;
        return 0;
    }
    DirStatus InitBuffer(std::uint32_t kind, DirBuffer*) override {
        requestKind = kind;
        return 0;
    }
    DirStatus PutClassName(DirBuffer*, const char* name) override {
        className = name;
        return 0;
    }
    DirStatus ReadClassDefs(DirBuffer*, std::int32_t* iteration, DirBuffer*) override {
        pass_ = *iteration + 1;
        if (pass_ == failReadAtPass || pass_ >= static_cast<int>(passes.size())) {
            return DIR_ERR_NO_SUCH_CLASS;
        }
        *iteration = pass_ + 1 < static_cast<int>(passes.size()) ? pass_ : -1;
        list_ = -1;
        return 0;
    }
    DirStatus GetClassDefCount(DirBuffer*, std::uint32_t* count) override {
        *count = 1;
        return 0;
    }
    DirStatus GetClassDef(DirBuffer*, char* name, DirClassInfo* info) override {
        std::strcpy(name, "User");
        info->itemListCount = 5;
        return 0;
    }
    DirStatus GetClassItemCount(DirBuffer*, std::uint32_t* count) override {
        ++list_;
        item_ = 0;
        if (list_ == failCountOfList) {
            return DIR_ERR_BUFFER_EMPTY;
        }
        *count = static_cast<std::uint32_t>(passes[pass_][list_].size());
        return 0;
    }
    DirStatus GetClassItem(DirBuffer*, char* name) override {
        if (list_ == failItemOfList && item_ == 1) {
            return DIR_ERR_BUFFER_EMPTY;
        }
        std::strcpy(name, passes[pass_][list_][item_++].c_str());
        return 0;
    }

    std::vector<std::string> Keywords() {
        std::vector<std::string> found;
        const int count = ListSchemaKeywords(*this, [&](const char* k) { found.push_back(k); });
        EXPECT_EQ(count, static_cast<int>(found.size()));
        return found;
    }

  private:
    std::array<int, 2> tokens_{};
    int pass_ = 0;
    int list_ = -1;
    int item_ = 0;
};

const ItemLists kUserClass{{
    {"Organizational Person"},
    {"Organization", "Organizational Unit"},
    {"CN"},
    {"CN", "Surname"},
    {"Account Balance", "Allow Unlimited Credit", "JOBTALLY:Lab Balance", "JOBTALLY:Lab Limit",
     "JOBTALLY:Lab Nolimit", "JOBTALLY:Staff Nolimit", "Full Name"},
}};

TEST(ListSchemaKeywords, AsksForTheUserClassInTwoLargeBuffersAndFreesThem) {
    FakeClassDefinitions directory;
    directory.passes = {kUserClass};
    EXPECT_EQ(directory.Keywords(), (std::vector<std::string>{"Lab", "Staff"}));
    EXPECT_EQ(directory.allocatedSizes, (std::vector<std::size_t>{16384, 16384}));
    EXPECT_EQ(directory.requestKind, 15u);
    EXPECT_EQ(directory.className, "User");
    EXPECT_EQ(directory.buffersInUse, 0);
}

TEST(ListSchemaKeywords, OnlyNolimitNamesAfterJobtallyOfferAKeyword) {
    FakeClassDefinitions directory;
    ItemLists lists;
    lists[4] = {"Nolimit",
                "Nolimit JOBTALLY:X",
                "JOBTALLY:Nolimit",
                "JOBTALLY: Nolimit",
                "Other:Y Nolimit",
                "XJOBTALLY:Lab Nolimit",
                "JOBTALLY:Two Words Nolimit here",
                "",
                "JOBTALLY:Lab Nolimit"};
    directory.passes = {lists};
    // "JOBTALLY:Nolimit" loses its colon to the cut; "JOBTALLY: Nolimit" offers the empty
    // keyword; duplicates stay.
    EXPECT_EQ(directory.Keywords(), (std::vector<std::string>{"", "Lab", "Two Words", "Lab"}));
}

TEST(ListSchemaKeywords, EveryPassIsReadUntilTheIterationEnds) {
    FakeClassDefinitions directory;
    ItemLists first, second;
    first[3] = {"JOBTALLY:A Nolimit"};
    second[0] = {"JOBTALLY:B Nolimit"};
    directory.passes = {first, second};
    EXPECT_EQ(directory.Keywords(), (std::vector<std::string>{"A", "B"}));
}

TEST(ListSchemaKeywords, FailuresEndTheScanOrTheListNotTheProgram) {
    FakeClassDefinitions readFails;
    readFails.passes = {kUserClass, kUserClass};
    readFails.failReadAtPass = 1;
    EXPECT_EQ(readFails.Keywords().size(), 2u) << "the first pass counts";
    EXPECT_EQ(readFails.buffersInUse, 0);

    FakeClassDefinitions countFails;
    ItemLists lists;
    lists[1] = {"JOBTALLY:A Nolimit"};
    lists[2] = {"JOBTALLY:B Nolimit"};
    countFails.passes = {lists};
    countFails.failCountOfList = 1;
    EXPECT_EQ(countFails.Keywords(), (std::vector<std::string>{"B"}));

    FakeClassDefinitions itemFails;
    lists[1] = {"JOBTALLY:A Nolimit", "JOBTALLY:Lost Nolimit", "JOBTALLY:Lost2 Nolimit"};
    itemFails.passes = {lists};
    itemFails.failItemOfList = 1;
    EXPECT_EQ(itemFails.Keywords(), (std::vector<std::string>{"A", "B"}));

    FakeClassDefinitions noMemory;
    noMemory.passes = {kUserClass};
    noMemory.failAllocation = 1;
    EXPECT_TRUE(noMemory.Keywords().empty());
    EXPECT_EQ(noMemory.buffersInUse, 0);
}

}  // namespace
