// The program's call sequences, made exactly as its directory code makes them, so that the
// client is tested the way it is used: listings in chunks, the account attribute read with its
// definition first, the counter addition, the group member read, the membership compare.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "directory/dirclient.h"
#include "directory/dirclient_setup.h"
#include "fake_store.h"

namespace tally::testing {

struct BufferDeleter {
    void operator()(DirBuffer* buffer) const { DirFreeBuffer(buffer); }
};
using BufferPtr = std::unique_ptr<DirBuffer, BufferDeleter>;

inline BufferPtr AllocBuffer(std::size_t size = DIR_BUFFER_SIZE) {
    DirBuffer* buffer = nullptr;
    EXPECT_EQ(DirAllocBuffer(size, &buffer), DIR_OK);
    return BufferPtr(buffer);
}

struct Listing {
    std::vector<std::string> names;
    int calls = 0;
    DirStatus status = DIR_OK;
};

// The object list fill: 4096-byte buffer, handle -1, repeat while the handle is not -1.
inline Listing ListByClass(DirContextHandle context, const char* className) {
    Listing listing;
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    do {
        ++listing.calls;
        listing.status = DirListByClass(context, "", className, nullptr, &handle, result.get());
        if (listing.status != DIR_OK) {
            break;
        }
        std::uint32_t count = 0;
        EXPECT_EQ(DirGetObjectCount(context, result.get(), &count), DIR_OK);
        for (std::uint32_t i = 0; i < count; ++i) {
            char name[DIR_MAX_NAME_BYTES];
            std::uint32_t attrCount = 0;
            DirObjectInfo info{};
            EXPECT_EQ(DirGetObjectName(context, result.get(), name, &attrCount, &info), DIR_OK);
            listing.names.emplace_back(name);
        }
    } while (handle != DIR_NO_MORE_ITERATIONS);
    return listing;
}

// The account attribute read: the syntax from the attribute's definition, then a one-call read
// of the value, the syntax of the value's attribute in force, only the first value fetched.
inline DirStatus CallReadAccountAttribute(DirContextHandle context, const char* object,
                                          const char* attribute, void* value) {
    BufferPtr request = AllocBuffer();
    BufferPtr result = AllocBuffer();
    std::uint32_t syntax = 0;
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(context, DIR_REQ_READ_ATTR_DEF, request.get());
    DirPutAttrName(context, request.get(), attribute);
    if (DirReadAttrDefs(context, DIR_INFO_FULL_DEFINITIONS, 0, request.get(), &handle,
                        result.get()) == DIR_OK) {
        std::uint32_t count = 0;
        char name[DIR_MAX_NAME_BYTES];
        DirAttrInfo definition{};
        DirGetAttrCount(context, result.get(), &count);
        if (DirGetAttrDef(context, result.get(), name, &definition) == DIR_OK) {
            syntax = definition.attrSyntaxID;
        }
    }
    DirInitBuffer(context, DIR_REQ_READ, request.get());
    DirPutAttrName(context, request.get(), attribute);
    handle = DIR_NO_MORE_ITERATIONS;
    DirStatus status = DirRead(context, object, DIR_INFO_NAMES_AND_VALUES, 0, request.get(),
                               &handle, result.get());
    if (status == DIR_OK) {
        std::uint32_t count = 0, values = 0;
        char name[DIR_MAX_NAME_BYTES];
        DirGetAttrCount(context, result.get(), &count);
        status = DirGetAttrName(context, result.get(), name, &values, &syntax);
        if (status == DIR_OK) {
            status = DirGetAttrValue(context, result.get(), syntax, value);
        }
    }
    if (status != DIR_OK) {
        if (syntax == SYN_INTEGER || syntax == SYN_COUNTER) {
            std::memset(value, 0, 4);
        } else {
            std::memset(value, 0, 1);
        }
    }
    return status;
}

// One modify request holding one change and its value.
inline DirStatus CallWriteAccountAttribute(DirContextHandle context, const char* object,
                                           const char* attribute, std::uint32_t syntax,
                                           const void* value, std::uint32_t changeType) {
    BufferPtr request = AllocBuffer();
    DirInitBuffer(context, DIR_REQ_MODIFY, request.get());
    DirPutChange(context, request.get(), changeType, attribute);
    DirPutAttrValue(context, request.get(), syntax, value);
    return DirModifyObject(context, object, nullptr, 0, request.get());
}

inline DirStatus CallAdjustBalance(DirContextHandle context, const char* object,
                                   const char* balanceAttribute, std::int32_t amount,
                                   std::int32_t* balance) {
    DirStatus status = CallWriteAccountAttribute(context, object, balanceAttribute, SYN_COUNTER,
                                                 &amount, DIR_CHANGE_ADD_VALUE);
    CallReadAccountAttribute(context, object, balanceAttribute, balance);
    return status;
}

// The group member read: "Member" named in a read request, repeated while the handle is set.
struct Members {
    std::vector<std::string> names;
    int calls = 0;
    DirStatus status = DIR_OK;
};

inline Members ReadMembers(DirContextHandle context, const char* group) {
    Members members;
    BufferPtr request = AllocBuffer();
    BufferPtr result = AllocBuffer();
    DirInitBuffer(context, DIR_REQ_READ, request.get());
    DirPutAttrName(context, request.get(), "Member");
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    do {
        ++members.calls;
        members.status = DirRead(context, group, DIR_INFO_NAMES_AND_VALUES, 0, request.get(),
                                 &handle, result.get());
        if (members.status != DIR_OK) {
            break;
        }
        std::uint32_t count = 0, values = 0, syntax = 0;
        char name[DIR_MAX_NAME_BYTES];
        EXPECT_EQ(DirGetAttrCount(context, result.get(), &count), DIR_OK);
        EXPECT_EQ(DirGetAttrName(context, result.get(), name, &values, &syntax), DIR_OK);
        for (std::uint32_t i = 0; i < values; ++i) {
            char member[DIR_MAX_NAME_BYTES];
            EXPECT_EQ(DirGetAttrValue(context, result.get(), syntax, member), DIR_OK);
            members.names.emplace_back(member);
        }
    } while (handle != DIR_NO_MORE_ITERATIONS);
    return members;
}

inline int CallIsGroupMember(DirContextHandle context, const char* group, const char* user) {
    BufferPtr request = AllocBuffer();
    DirInitBuffer(context, DIR_REQ_COMPARE, request.get());
    DirPutAttrName(context, request.get(), "Member");
    DirPutAttrValue(context, request.get(), SYN_DIST_NAME, user);
    std::uint8_t matched = 0;
    if (DirCompare(context, group, request.get(), &matched) != DIR_OK) {
        return 0;
    }
    return matched;
}

inline std::string NameContext(DirContextHandle context) {
    char name[DIR_MAX_NAME_BYTES] = "";
    EXPECT_EQ(DirGetContextValue(context, DIR_CTX_NAME_CONTEXT, name), DIR_OK);
    return name;
}

inline DirStatus SetNameContext(DirContextHandle context, const char* name) {
    return DirSetContextValue(context, DIR_CTX_NAME_CONTEXT, name);
}

inline directory::ClientConfig LoggedInConfig() {
    directory::ClientConfig config;
    config.loginUser = "ADMIN.CORP";
    config.loginContext = "SALES.CORP";
    config.defaultServer = "ACCT1";
    config.servers = {"ACCT1", "FS2"};
    return config;
}

// A small tree: CORP with SALES and ACCOUNTS, a second organization, users, groups, servers.
inline std::unique_ptr<FakeStore> SampleStore() {
    auto directory = std::make_unique<FakeStore>();
    directory->Add("CORP", "Organization")
        .Add("WIDGETS", "Organization")
        .Add("ADMIN.CORP", "User", {{"Full Name", {"Network Administrator"}}})
        .Add("ACCT1.CORP", "NCP Server")
        .Add("FS2.CORP", "NCP Server")
        .Add("ARCHIVE.WIDGETS", "NCP Server")
        .Add("SALES.CORP", "Organizational Unit")
        .Add("EAST.SALES.CORP", "Organizational Unit")
        .Add("ACCOUNTS.CORP", "Organizational Unit")
        .Add("JSMITH.SALES.CORP", "User",
             {{"Full Name", {"John Smith"}},
              {"Account Balance", {"1500"}},
              {"Minimum Account Balance", {"-200"}},
              {"Allow Unlimited Credit", {"FALSE"}},
              {"Card Serial", {std::string("\x01\x00\x02", 3)}},
              {"Network Address", {std::string("\x00\x00\x00\x01\x0a\x00\x00\x07", 8)}}})
        .Add("MJONES.SALES.CORP", "User", {{"Account Balance", {"20"}}})
        .Add("NOACCOUNT.SALES.CORP", "User")
        .Add("STAFF.SALES.CORP", "Group",
             {{"Member", {"JSMITH.SALES.CORP", "ADMIN.CORP"}}, {"Full Name", {"Sales Staff"}}})
        .Add("FYOUNG.ACCOUNTS.CORP", "User", {{"Account Balance", {"5"}}});
    return directory;
}

// Each test starts from a client over the sample tree, logged in as ADMIN.CORP.
class ClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto directory = SampleStore();
        store_ = directory.get();
        DirClientUseStore(LoggedInConfig(), std::move(directory));
        context_ = DirCreateContext();
    }
    void TearDown() override { DirClientReset(); }

    FakeStore* store_ = nullptr;
    DirContextHandle context_ = 0;
};

}  // namespace tally::testing
