// Name contexts, complete names and the login, as start-up and the Select Context dialog use them.
#include "callers.h"

namespace tally::testing {
namespace {

using ContextTest = ClientTest;

TEST_F(ContextTest, NewContextStartsInTheWorkstationsContextAsStored) {
    EXPECT_EQ(NameContext(context_), "SALES.CORP");
    DirClientReset();
    auto config = LoggedInConfig();
    config.loginContext = "sales.corp";
    DirClientUseStore(config, SampleStore());
    EXPECT_EQ(NameContext(DirCreateContext()), "SALES.CORP");
}

TEST_F(ContextTest, UnknownOrMissingWorkstationContextStartsAtRoot) {
    DirClientReset();
    auto config = LoggedInConfig();
    config.loginContext = "NOWHERE.CORP";
    DirClientUseStore(config, SampleStore());
    EXPECT_EQ(NameContext(DirCreateContext()), "[Root]");
    EXPECT_NE(std::string(DirClientLastProblem()).find("NOWHERE.CORP"), std::string::npos);

    config.loginContext = "";
    DirClientUseStore(config, SampleStore());
    EXPECT_EQ(NameContext(DirCreateContext()), "[Root]");
}

TEST_F(ContextTest, StartUpSetsRootThenACompleteName) {
    ASSERT_EQ(SetNameContext(context_, "[Root]"), DIR_OK);
    EXPECT_EQ(NameContext(context_), "[Root]");
    ASSERT_EQ(SetNameContext(context_, "east.Sales.CORP"), DIR_OK);
    EXPECT_EQ(NameContext(context_), "EAST.SALES.CORP");
    ASSERT_EQ(SetNameContext(context_, "[root]"), DIR_OK);
    EXPECT_EQ(NameContext(context_), "[Root]");
    ASSERT_EQ(SetNameContext(context_, "WIDGETS"), DIR_OK);
    EXPECT_EQ(NameContext(context_), "WIDGETS");
}

TEST_F(ContextTest, RefusedNamesLeaveTheContextAsItWas) {
    const char* refused[] = {"EAST",               // relative: a context is always given whole
                             "JSMITH.SALES.CORP",  // not a container
                             "NOWHERE.CORP",
                             "",
                             "SALES..CORP",
                             "\"SALES.CORP\"",
                             "SALES.CORP "};
    for (const char* name : refused) {
        EXPECT_EQ(SetNameContext(context_, name), DIR_ERR_ILLEGAL_NAME) << name;
        EXPECT_EQ(NameContext(context_), "SALES.CORP") << name;
    }
    std::string tooLong(300, 'A');
    EXPECT_EQ(SetNameContext(context_, tooLong.c_str()), DIR_ERR_ILLEGAL_NAME);
}

TEST_F(ContextTest, SelectContextMovesDownAndUpByCompleteNames) {
    // Down from the root: the container's name alone; below the root: "%s.%s".
    ASSERT_EQ(SetNameContext(context_, "[Root]"), DIR_OK);
    ASSERT_EQ(SetNameContext(context_, "CORP"), DIR_OK);
    ASSERT_EQ(SetNameContext(context_, "SALES.CORP"), DIR_OK);
    ASSERT_EQ(SetNameContext(context_, "EAST.SALES.CORP"), DIR_OK);
    // Up: the part after the first point, and "[Root]" from a one-level context.
    std::string current = NameContext(context_);
    ASSERT_EQ(SetNameContext(context_, current.substr(current.find('.') + 1).c_str()), DIR_OK);
    EXPECT_EQ(NameContext(context_), "SALES.CORP");
    ASSERT_EQ(SetNameContext(context_, "CORP"), DIR_OK);
    ASSERT_EQ(SetNameContext(context_, "[Root]"), DIR_OK);
    EXPECT_EQ(NameContext(context_), "[Root]");
}

TEST_F(ContextTest, FlagsAreAWordByAddressAndOtherKeysAreRefused) {
    std::uint32_t flags = 0xFFFFFFFF;
    ASSERT_EQ(DirGetContextValue(context_, DIR_CTX_FLAGS, &flags), DIR_OK);
    EXPECT_EQ(flags, 0u);
    flags |= DIR_FLAG_TYPELESS_NAMES;
    ASSERT_EQ(DirSetContextValue(context_, DIR_CTX_FLAGS, &flags), DIR_OK);
    std::uint32_t back = 0;
    DirGetContextValue(context_, DIR_CTX_FLAGS, &back);
    EXPECT_EQ(back, DIR_FLAG_TYPELESS_NAMES);

    char name[DIR_MAX_NAME_BYTES];
    EXPECT_EQ(DirGetContextValue(context_, 2, name), DIR_ERR_BAD_KEY);
    EXPECT_EQ(DirSetContextValue(context_, 7, "x"), DIR_ERR_BAD_KEY);
    EXPECT_EQ(DirGetContextValue(context_ + 100, DIR_CTX_FLAGS, &flags), DIR_ERR_BAD_CONTEXT);
    ASSERT_EQ(DirFreeContext(context_), DIR_OK);
    EXPECT_EQ(DirFreeContext(context_), DIR_ERR_BAD_CONTEXT);
    EXPECT_EQ(DirGetContextValue(context_, DIR_CTX_FLAGS, &flags), DIR_ERR_BAD_CONTEXT);
}

TEST_F(ContextTest, FullNamesAreCompletedFromTheNameContext) {
    char name[DIR_MAX_NAME_BYTES] = "jsmith";
    ASSERT_EQ(DirGetFullName(context_, name, name), DIR_OK);  // in and out in one buffer
    EXPECT_EQ(std::string(name), "JSMITH.SALES.CORP");

    // A complete name the program kept (the operator's login name) stays complete.
    ASSERT_EQ(DirGetFullName(context_, "ADMIN.CORP", name), DIR_OK);
    EXPECT_EQ(std::string(name), "ADMIN.CORP");
    // A leading point marks a complete name; a trailing point goes one container up.
    ASSERT_EQ(DirGetFullName(context_, ".FYOUNG.ACCOUNTS.CORP", name), DIR_OK);
    EXPECT_EQ(std::string(name), "FYOUNG.ACCOUNTS.CORP");
    ASSERT_EQ(DirGetFullName(context_, "ADMIN.", name), DIR_OK);
    EXPECT_EQ(std::string(name), "ADMIN.CORP");
    // A name of nothing that exists is still completed.
    ASSERT_EQ(DirGetFullName(context_, "NEWUSER", name), DIR_OK);
    EXPECT_EQ(std::string(name), "NEWUSER.SALES.CORP");

    ASSERT_EQ(SetNameContext(context_, "[Root]"), DIR_OK);
    ASSERT_EQ(DirGetFullName(context_, "JSMITH.SALES.CORP", name), DIR_OK);
    EXPECT_EQ(std::string(name), "JSMITH.SALES.CORP");
    EXPECT_EQ(DirGetFullName(context_, "JSMITH.", name), DIR_ERR_ILLEGAL_NAME);
    EXPECT_EQ(DirGetFullName(context_, "", name), DIR_ERR_ILLEGAL_NAME);
}

TEST_F(ContextTest, LoginNameIsTheCompleteNameWhateverTheContext) {
    char name[DIR_MAX_NAME_BYTES];
    ASSERT_EQ(DirGetLoginName(context_, name), DIR_OK);
    EXPECT_EQ(std::string(name), "ADMIN.CORP");
    EXPECT_EQ(DirIsLoggedIn(), 1);

    DirClientReset();
    auto config = LoggedInConfig();
    config.loginUser.clear();
    DirClientUseStore(config, SampleStore());
    EXPECT_EQ(DirIsLoggedIn(), 0);
    EXPECT_EQ(DirGetLoginName(DirCreateContext(), name), DIR_ERR_NOT_LOGGED_IN);
}

TEST_F(ContextTest, RelativeNamesPreferTheObjectBelowTheContext) {
    // "ADMIN.CORP" relative to CORP would be ADMIN.CORP.CORP; with such an object present the
    // relative reading wins, as the program's names are relative to its context.
    store_->Add("ADMIN.CORP.CORP", "User");
    ASSERT_EQ(SetNameContext(context_, "CORP"), DIR_OK);
    char name[DIR_MAX_NAME_BYTES];
    ASSERT_EQ(DirGetFullName(context_, "ADMIN.CORP", name), DIR_OK);
    EXPECT_EQ(std::string(name), "ADMIN.CORP.CORP");
}

}  // namespace
}  // namespace tally::testing
