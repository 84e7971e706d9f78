// Listings of the current context in chunks, as the object lists and the whole-context
// operation make them.
#include <algorithm>
#include <set>

#include "callers.h"

namespace tally::testing {
namespace {

using ListingTest = ClientTest;

TEST_F(ListingTest, ListsTheContextsObjectsOfOneClassByTheirOwnNames) {
    EXPECT_EQ(ListByClass(context_, "User").names,
              (std::vector<std::string>{"JSMITH", "MJONES", "NOACCOUNT"}));
    EXPECT_EQ(ListByClass(context_, "Group").names, std::vector<std::string>{"STAFF"});
    EXPECT_EQ(ListByClass(context_, "organizational unit").names, std::vector<std::string>{"EAST"});
    EXPECT_TRUE(ListByClass(context_, "Organization").names.empty());
}

TEST_F(ListingTest, AtRootTheContainersOfBothClassesAreListed) {
    ASSERT_EQ(SetNameContext(context_, "[Root]"), DIR_OK);
    EXPECT_EQ(ListByClass(context_, "Organization").names,
              (std::vector<std::string>{"CORP", "WIDGETS"}));
    EXPECT_TRUE(ListByClass(context_, "Organizational Unit").names.empty());
    EXPECT_TRUE(ListByClass(context_, "User").names.empty());
}

TEST_F(ListingTest, AnEmptyContextGivesOneEmptyChunk) {
    ASSERT_EQ(SetNameContext(context_, "EAST.SALES.CORP"), DIR_OK);
    Listing users = ListByClass(context_, "User");
    EXPECT_EQ(users.status, DIR_OK);
    EXPECT_EQ(users.calls, 1);
    EXPECT_TRUE(users.names.empty());
}

TEST_F(ListingTest, TwoThousandUsersTakeSeveralCallsAndComeOnceEach) {
    std::set<std::string> expected;
    for (int i = 0; i < 2000; ++i) {
        std::string name = "USER" + std::to_string(10000 + i) + "-WITH-A-LONGER-NAME";
        store_->Add(name + ".EAST.SALES.CORP", "User");
        expected.insert(name);
    }
    store_->Add("TEAM.EAST.SALES.CORP", "Group");
    ASSERT_EQ(SetNameContext(context_, "EAST.SALES.CORP"), DIR_OK);

    Listing users = ListByClass(context_, "User");
    ASSERT_EQ(users.status, DIR_OK);
    // About 60 bytes for each name: 4096 bytes hold some 60 names.
    EXPECT_GT(users.calls, 20);
    EXPECT_EQ(users.names.size(), 2000u);
    EXPECT_EQ(std::set<std::string>(users.names.begin(), users.names.end()), expected);
    EXPECT_EQ(ListByClass(context_, "Group").names, std::vector<std::string>{"TEAM"});
}

TEST_F(ListingTest, ChunksFollowTheHandleToMinusOneAndChangesMeanwhileDoNotRepeatNames) {
    for (int i = 0; i < 300; ++i) {
        store_->Add("U" + std::to_string(1000 + i) + ".EAST.SALES.CORP", "User");
    }
    ASSERT_EQ(SetNameContext(context_, "EAST.SALES.CORP"), DIR_OK);
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    ASSERT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, result.get()), DIR_OK);
    ASSERT_NE(handle, DIR_NO_MORE_ITERATIONS);
    std::uint32_t first = 0;
    DirGetObjectCount(context_, result.get(), &first);
    store_->Add("A0.EAST.SALES.CORP", "User");  // sorts first: would shift an index-based scan

    std::size_t total = first;
    while (handle != DIR_NO_MORE_ITERATIONS) {
        ASSERT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, result.get()), DIR_OK);
        std::uint32_t count = 0;
        DirGetObjectCount(context_, result.get(), &count);
        total += count;
    }
    EXPECT_EQ(total, 300u);
    // The handle has been used up, and one made up is unknown.
    handle = 12345;
    EXPECT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, result.get()),
              DIR_ERR_BAD_ITERATION);
}

TEST_F(ListingTest, AbandonedListingsAreForgottenButTheNewestGoesOn) {
    for (int i = 0; i < 300; ++i) {
        store_->Add("U" + std::to_string(1000 + i) + ".EAST.SALES.CORP", "User");
    }
    ASSERT_EQ(SetNameContext(context_, "EAST.SALES.CORP"), DIR_OK);
    BufferPtr result = AllocBuffer();
    std::int32_t first = DIR_NO_MORE_ITERATIONS, handle = DIR_NO_MORE_ITERATIONS;
    ASSERT_EQ(DirListByClass(context_, "", "User", nullptr, &first, result.get()), DIR_OK);
    for (int i = 0; i < 100; ++i) {
        handle = DIR_NO_MORE_ITERATIONS;
        ASSERT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, result.get()), DIR_OK);
    }
    EXPECT_EQ(DirListByClass(context_, "", "User", nullptr, &first, result.get()),
              DIR_ERR_BAD_ITERATION);
    EXPECT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, result.get()), DIR_OK);
}

TEST_F(ListingTest, ReadingPastTheChunkFailsAndNamesAreFilteredByPattern) {
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    ASSERT_EQ(DirListByClass(context_, nullptr, "User", "?JONES", &handle, result.get()), DIR_OK);
    std::uint32_t count = 0;
    ASSERT_EQ(DirGetObjectCount(context_, result.get(), &count), DIR_OK);
    ASSERT_EQ(count, 1u);
    char name[DIR_MAX_NAME_BYTES];
    DirObjectInfo info{};
    ASSERT_EQ(DirGetObjectName(context_, result.get(), name, nullptr, &info), DIR_OK);
    EXPECT_EQ(std::string(name), "MJONES");
    EXPECT_EQ(std::string(info.baseClass), "User");
    EXPECT_EQ(DirGetObjectName(context_, result.get(), name, nullptr, &info), DIR_ERR_BUFFER_EMPTY);
    // A listing result is no read result.
    std::uint32_t values = 0, syntax = 0;
    EXPECT_EQ(DirGetAttrName(context_, result.get(), name, &values, &syntax), DIR_ERR_BAD_BUFFER);
}

TEST_F(ListingTest, ABufferTooSmallForOneNameFails) {
    BufferPtr tiny = AllocBuffer(16);
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    EXPECT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, tiny.get()),
              DIR_ERR_BUFFER_FULL);
    EXPECT_EQ(handle, DIR_NO_MORE_ITERATIONS);
}

TEST_F(ListingTest, BuffersAreCheckedBeforeUse) {
    DirBuffer* buffer = nullptr;
    EXPECT_EQ(DirAllocBuffer(0, &buffer), DIR_ERR_BAD_BUFFER);
    ASSERT_EQ(DirAllocBuffer(DIR_BUFFER_SIZE, &buffer), DIR_OK);
    ASSERT_EQ(DirFreeBuffer(buffer), DIR_OK);
    EXPECT_EQ(DirFreeBuffer(buffer), DIR_ERR_BAD_BUFFER);  // freed twice
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    EXPECT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, buffer), DIR_ERR_BAD_BUFFER);
    EXPECT_EQ(DirListByClass(context_, "", "User", nullptr, &handle, nullptr), DIR_ERR_BAD_BUFFER);
}

}  // namespace
}  // namespace tally::testing
