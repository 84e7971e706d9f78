// Account attributes: the read with the definition first, counter additions, overwrite and
// clear, the values of every form, group members in chunks, membership and class definitions.
#include "callers.h"

namespace tally::testing {
namespace {

using AttributeTest = ClientTest;

TEST_F(AttributeTest, ReadsAnAccountTheWayTheSelectionDisplayDoes) {
    char fullName[DIR_MAX_NAME_BYTES];
    std::int32_t balance = -1, limit = -1;
    std::uint8_t unlimited = 9;
    EXPECT_EQ(CallReadAccountAttribute(context_, "JSMITH", "Full Name", fullName), DIR_OK);
    EXPECT_EQ(CallReadAccountAttribute(context_, "JSMITH", "Account Balance", &balance), DIR_OK);
    EXPECT_EQ(CallReadAccountAttribute(context_, "JSMITH", "Minimum Account Balance", &limit),
              DIR_OK);
    EXPECT_EQ(CallReadAccountAttribute(context_, "JSMITH", "Allow Unlimited Credit", &unlimited),
              DIR_OK);
    EXPECT_EQ(std::string(fullName), "John Smith");
    EXPECT_EQ(balance, 1500);
    EXPECT_EQ(limit, -200);
    EXPECT_EQ(unlimited, 0);
}

TEST_F(AttributeTest, AMissingAttributeOrObjectFailsAndReadsAsZero) {
    std::int32_t balance = 77;
    EXPECT_EQ(CallReadAccountAttribute(context_, "NOACCOUNT", "Account Balance", &balance),
              DIR_ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(balance, 0);
    balance = 77;
    EXPECT_EQ(CallReadAccountAttribute(context_, "NOBODY", "Account Balance", &balance),
              DIR_ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(balance, 0);
    // An attribute the schema lacks has no definition.
    BufferPtr request = AllocBuffer();
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(context_, DIR_REQ_READ_ATTR_DEF, request.get());
    DirPutAttrName(context_, request.get(), "JOBTALLY:Nothing Balance");
    EXPECT_EQ(DirReadAttrDefs(context_, 1, 0, request.get(), &handle, result.get()),
              DIR_ERR_NO_SUCH_ATTRIBUTE);
}

TEST_F(AttributeTest, AttributeDefinitionsCarryTheSyntaxInTheirSecondField) {
    BufferPtr request = AllocBuffer();
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(context_, DIR_REQ_READ_ATTR_DEF, request.get());
    DirPutAttrName(context_, request.get(), "account balance");
    DirPutAttrName(context_, request.get(), "JOBTALLY:Colour Nolimit");
    ASSERT_EQ(DirReadAttrDefs(context_, 1, 0, request.get(), &handle, result.get()), DIR_OK);
    EXPECT_EQ(handle, DIR_NO_MORE_ITERATIONS);
    std::uint32_t count = 0;
    ASSERT_EQ(DirGetAttrCount(context_, result.get(), &count), DIR_OK);
    ASSERT_EQ(count, 2u);
    char name[DIR_MAX_NAME_BYTES];
    DirAttrInfo definition{};
    ASSERT_EQ(DirGetAttrDef(context_, result.get(), name, &definition), DIR_OK);
    EXPECT_EQ(std::string(name), "Account Balance");
    std::uint32_t fields[4];
    std::memcpy(fields, &definition, sizeof fields);
    EXPECT_EQ(fields[1], SYN_COUNTER);
    ASSERT_EQ(DirGetAttrDef(context_, result.get(), name, &definition), DIR_OK);
    EXPECT_EQ(definition.attrSyntaxID, SYN_BOOLEAN);
    EXPECT_EQ(DirGetAttrDef(context_, result.get(), name, &definition), DIR_ERR_BUFFER_EMPTY);
}

TEST_F(AttributeTest, DepositAndChargeAddToTheCounterAndReadItBack) {
    std::int32_t balance = 0;
    ASSERT_EQ(CallAdjustBalance(context_, "JSMITH", "Account Balance", 500, &balance), DIR_OK);
    EXPECT_EQ(balance, 2000);
    ASSERT_EQ(CallAdjustBalance(context_, "JSMITH", "Account Balance", -2150, &balance), DIR_OK);
    EXPECT_EQ(balance, -150);
    // The store is told to add, not to overwrite, so concurrent charges are not lost.
    const store::Change& change = store_->modifications.back().at(0);
    EXPECT_EQ(change.kind, store::ChangeKind::AddValue);
    EXPECT_EQ(change.attribute, "Account Balance");
    EXPECT_EQ(change.value, "-2150");
    // A counter that did not exist starts from the amount.
    ASSERT_EQ(CallAdjustBalance(context_, "NOACCOUNT", "JOBTALLY:Colour Balance", 40, &balance),
              DIR_OK);
    EXPECT_EQ(balance, 40);
}

TEST_F(AttributeTest, SetBalanceIsTwoAdditions) {
    std::int32_t balance = 0;
    CallReadAccountAttribute(context_, "MJONES", "Account Balance", &balance);
    ASSERT_EQ(CallAdjustBalance(context_, "MJONES", "Account Balance", -balance, &balance), DIR_OK);
    EXPECT_EQ(balance, 0);
    ASSERT_EQ(CallAdjustBalance(context_, "MJONES", "Account Balance", 500, &balance), DIR_OK);
    EXPECT_EQ(balance, 500);
}

TEST_F(AttributeTest, SetLimitOverwritesTheFlagThenClearsOrOverwritesTheLimit) {
    std::uint8_t flag = 1;
    std::int32_t amount = 300;
    ASSERT_EQ(CallWriteAccountAttribute(context_, "JSMITH", "Allow Unlimited Credit", SYN_BOOLEAN,
                                        &flag, DIR_CHANGE_OVERWRITE_VALUE),
              DIR_OK);
    // A value is put for the clear too; it means nothing.
    ASSERT_EQ(CallWriteAccountAttribute(context_, "JSMITH", "Minimum Account Balance", SYN_INTEGER,
                                        &amount, DIR_CHANGE_CLEAR_ATTRIBUTE),
              DIR_OK);
    std::uint8_t unlimited = 0;
    std::int32_t limit = 99;
    CallReadAccountAttribute(context_, "JSMITH", "Allow Unlimited Credit", &unlimited);
    EXPECT_EQ(CallReadAccountAttribute(context_, "JSMITH", "Minimum Account Balance", &limit),
              DIR_ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(unlimited, 1);
    EXPECT_EQ(limit, 0);

    flag = 0;
    CallWriteAccountAttribute(context_, "JSMITH", "Allow Unlimited Credit", SYN_BOOLEAN, &flag,
                              DIR_CHANGE_OVERWRITE_VALUE);
    ASSERT_EQ(CallWriteAccountAttribute(context_, "JSMITH", "Minimum Account Balance", SYN_INTEGER,
                                        &amount, DIR_CHANGE_OVERWRITE_VALUE),
              DIR_OK);
    CallReadAccountAttribute(context_, "JSMITH", "Minimum Account Balance", &limit);
    EXPECT_EQ(limit, 300);
    EXPECT_EQ(store_->Find("JSMITH.SALES.CORP")->attributes.at("Allow Unlimited Credit"),
              std::vector<std::string>{"FALSE"});
}

TEST_F(AttributeTest, AllChangesOfOneRequestApplyOrNone) {
    BufferPtr request = AllocBuffer();
    std::int32_t amount = 100;
    const char* text = "not for a counter";
    DirInitBuffer(context_, DIR_REQ_MODIFY, request.get());
    DirPutChange(context_, request.get(), DIR_CHANGE_ADD_VALUE, "Account Balance");
    DirPutAttrValue(context_, request.get(), SYN_COUNTER, &amount);
    DirPutChange(context_, request.get(), DIR_CHANGE_OVERWRITE_VALUE, "Minimum Account Balance");
    DirPutAttrValue(context_, request.get(), SYN_CI_STRING, text);
    EXPECT_EQ(DirModifyObject(context_, "JSMITH", nullptr, 0, request.get()), DIR_ERR_BAD_SYNTAX);
    std::int32_t balance = 0;
    CallReadAccountAttribute(context_, "JSMITH", "Account Balance", &balance);
    EXPECT_EQ(balance, 1500);

    // An unknown attribute anywhere in the request refuses the whole of it.
    DirInitBuffer(context_, DIR_REQ_MODIFY, request.get());
    DirPutChange(context_, request.get(), DIR_CHANGE_ADD_VALUE, "Account Balance");
    DirPutAttrValue(context_, request.get(), SYN_COUNTER, &amount);
    DirPutChange(context_, request.get(), DIR_CHANGE_OVERWRITE_VALUE, "Shoe Size");
    DirPutAttrValue(context_, request.get(), SYN_INTEGER, &amount);
    EXPECT_EQ(DirModifyObject(context_, "JSMITH", nullptr, 0, request.get()),
              DIR_ERR_NO_SUCH_ATTRIBUTE);
    EXPECT_EQ(DirModifyObject(context_, "NOBODY", nullptr, 0, request.get()),
              DIR_ERR_NO_SUCH_ENTRY);
    CallReadAccountAttribute(context_, "JSMITH", "Account Balance", &balance);
    EXPECT_EQ(balance, 1500);
}

TEST_F(AttributeTest, RequestsAreBuiltInOrderAndMustFitTheirBuffer) {
    BufferPtr request = AllocBuffer(64);
    std::int32_t amount = 1;
    DirInitBuffer(context_, DIR_REQ_MODIFY, request.get());
    // A value belongs to the change before it.
    EXPECT_EQ(DirPutAttrValue(context_, request.get(), SYN_COUNTER, &amount), DIR_ERR_BAD_BUFFER);
    EXPECT_EQ(DirPutAttrName(context_, request.get(), "Account Balance"), DIR_ERR_BAD_BUFFER);
    EXPECT_EQ(DirPutChange(context_, request.get(), 1, "Account Balance"), DIR_ERR_BAD_SYNTAX);
    ASSERT_EQ(DirPutChange(context_, request.get(), DIR_CHANGE_ADD_VALUE, "Account Balance"),
              DIR_OK);
    ASSERT_EQ(DirPutAttrValue(context_, request.get(), SYN_COUNTER, &amount), DIR_OK);
    EXPECT_EQ(DirPutChange(context_, request.get(), DIR_CHANGE_ADD_VALUE,
                           "JOBTALLY:Colour Balance, a name that does not fit"),
              DIR_ERR_BUFFER_FULL);
    // What did fit is still one whole request.
    ASSERT_EQ(DirModifyObject(context_, "JSMITH", nullptr, 0, request.get()), DIR_OK);
    EXPECT_EQ(DirInitBuffer(context_, 7, request.get()), DIR_ERR_BAD_BUFFER);
}

TEST_F(AttributeTest, OctetStringsAndAddressesPointIntoTheResult) {
    BufferPtr request = AllocBuffer();
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(context_, DIR_REQ_READ, request.get());
    DirPutAttrName(context_, request.get(), "Card Serial");
    DirPutAttrName(context_, request.get(), "Network Address");
    ASSERT_EQ(DirRead(context_, "JSMITH", 1, 0, request.get(), &handle, result.get()), DIR_OK);
    std::uint32_t count = 0, values = 0, syntax = 0;
    char name[DIR_MAX_NAME_BYTES];
    DirGetAttrCount(context_, result.get(), &count);
    ASSERT_EQ(count, 2u);
    ASSERT_EQ(DirGetAttrName(context_, result.get(), name, &values, &syntax), DIR_OK);
    EXPECT_EQ(syntax, SYN_OCTET_STRING);
    DirOctetString octets{};
    ASSERT_EQ(DirGetAttrValue(context_, result.get(), syntax, &octets), DIR_OK);
    ASSERT_EQ(octets.length, 3u);
    EXPECT_EQ(octets.data[0], 1);
    EXPECT_EQ(octets.data[2], 2);
    ASSERT_EQ(DirGetAttrName(context_, result.get(), name, &values, &syntax), DIR_OK);
    EXPECT_EQ(syntax, SYN_NET_ADDRESS);
    // Asked in the wrong form, the value is refused rather than written over the caller's.
    std::int32_t wrong = 0;
    EXPECT_EQ(DirGetAttrValue(context_, result.get(), SYN_INTEGER, &wrong), DIR_ERR_BAD_SYNTAX);
    DirNetAddress address{};
    ASSERT_EQ(DirGetAttrValue(context_, result.get(), syntax, &address), DIR_OK);
    EXPECT_EQ(address.addressType, 1u);
    ASSERT_EQ(address.length, 4u);
    EXPECT_EQ(address.data[0], 0x0a);
    EXPECT_EQ(address.data[3], 0x07);
    EXPECT_EQ(DirGetAttrValue(context_, result.get(), syntax, &address), DIR_ERR_BUFFER_EMPTY);
}

TEST_F(AttributeTest, AValueTheStoreHoldsInTheWrongFormIsAProblemNotACrash) {
    store_->Add("BROKEN.SALES.CORP", "User", {{"Account Balance", {"lots"}}});
    std::int32_t balance = 5;
    EXPECT_EQ(CallReadAccountAttribute(context_, "BROKEN", "Account Balance", &balance),
              DIR_ERR_BAD_SYNTAX);
    EXPECT_EQ(balance, 0);
    EXPECT_NE(std::string(DirClientLastProblem()).find("BROKEN.SALES.CORP"), std::string::npos);
}

TEST_F(AttributeTest, SixHundredMembersComeInChunksEachOnce) {
    store::AttributeMap attributes;
    std::vector<std::string> expected;
    for (int i = 0; i < 600; ++i) {
        std::string name = "MEMBER" + std::to_string(i) + ".EAST.SALES.CORP";
        store_->Add(name, "User");
        attributes["Member"].push_back(name);
        expected.push_back(name);
    }
    store_->Add("BIG.SALES.CORP", "Group", attributes);
    Members members = ReadMembers(context_, "BIG");
    EXPECT_EQ(members.status, DIR_OK);
    EXPECT_GT(members.calls, 3);
    EXPECT_EQ(members.names, expected);
    // The whole-group operation hands each member name on unchanged: it must name that user.
    std::int32_t balance = 0;
    ASSERT_EQ(CallAdjustBalance(context_, members.names[7].c_str(), "Account Balance", 3, &balance),
              DIR_OK);
    EXPECT_EQ(balance, 3);
    EXPECT_TRUE(store_->Find("MEMBER7.EAST.SALES.CORP")->attributes.count("Account Balance"));
}

TEST_F(AttributeTest, MembershipIsComparedByCompleteNamesInAnyCase) {
    EXPECT_EQ(CallIsGroupMember(context_, "STAFF", "jsmith"), 1);
    EXPECT_EQ(CallIsGroupMember(context_, "STAFF", "MJONES"), 0);
    EXPECT_EQ(CallIsGroupMember(context_, "NOGROUP", "JSMITH"), 0);
    // The print history sets the root first and then uses complete names.
    ASSERT_EQ(SetNameContext(context_, "[Root]"), DIR_OK);
    EXPECT_EQ(CallIsGroupMember(context_, "STAFF.SALES.CORP", "admin.corp"), 1);
    EXPECT_EQ(CallIsGroupMember(context_, "STAFF.SALES.CORP", "JSMITH"), 0);
    // A request without exactly one name and one value is refused.
    BufferPtr request = AllocBuffer();
    DirInitBuffer(context_, DIR_REQ_COMPARE, request.get());
    DirPutAttrName(context_, request.get(), "Member");
    std::uint8_t matched = 7;
    EXPECT_EQ(DirCompare(context_, "STAFF.SALES.CORP", request.get(), &matched),
              DIR_ERR_BAD_BUFFER);
    EXPECT_EQ(matched, 0);
}

TEST_F(AttributeTest, TheUserClassDefinitionOffersTheKeywordAttributes) {
    // Two 16384-byte buffers, class "User", five item lists per definition.
    BufferPtr request = AllocBuffer(DIR_CLASS_BUFFER_SIZE);
    BufferPtr result = AllocBuffer(DIR_CLASS_BUFFER_SIZE);
    DirInitBuffer(context_, DIR_REQ_READ_CLASS_DEF, request.get());
    ASSERT_EQ(DirPutClassName(context_, request.get(), "User"), DIR_OK);
    std::vector<std::string> nolimits;
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    do {
        ASSERT_EQ(DirReadClassDefs(context_, DIR_INFO_FULL_DEFINITIONS, 0, request.get(), &handle,
                                   result.get()),
                  DIR_OK);
        std::uint32_t count = 0;
        ASSERT_EQ(DirGetClassDefCount(context_, result.get(), &count), DIR_OK);
        char className[DIR_MAX_NAME_BYTES];
        DirClassInfo info{};
        ASSERT_EQ(DirGetClassDef(context_, result.get(), className, &info), DIR_OK);
        EXPECT_EQ(std::string(className), "User");
        EXPECT_EQ(info.itemListCount, 5u);
        for (int list = 0; list < 5; ++list) {
            std::uint32_t items = 0;
            ASSERT_EQ(DirGetClassItemCount(context_, result.get(), &items), DIR_OK);
            for (std::uint32_t i = 0; i < items; ++i) {
                char item[DIR_MAX_NAME_BYTES];
                ASSERT_EQ(DirGetClassItem(context_, result.get(), item), DIR_OK);
                if (std::string(item).find("Nolimit") != std::string::npos) {
                    nolimits.emplace_back(item);
                }
            }
        }
        std::uint32_t none = 0;
        EXPECT_EQ(DirGetClassItemCount(context_, result.get(), &none), DIR_ERR_BUFFER_EMPTY);
    } while (handle != DIR_NO_MORE_ITERATIONS);
    EXPECT_EQ(nolimits,
              (std::vector<std::string>{"JOBTALLY:Colour Nolimit", "JOBTALLY:Copier Nolimit"}));

    DirInitBuffer(context_, DIR_REQ_READ_CLASS_DEF, request.get());
    DirPutClassName(context_, request.get(), "Printer");
    EXPECT_EQ(DirReadClassDefs(context_, 1, 0, request.get(), &handle, result.get()),
              DIR_ERR_NO_SUCH_CLASS);
}

TEST_F(AttributeTest, AllClassDefinitionsComeInChunksOfTheBuffer) {
    BufferPtr result = AllocBuffer(450);
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    std::vector<std::string> names;
    int calls = 0;
    do {
        ++calls;
        ASSERT_EQ(DirReadClassDefs(context_, 1, 1, nullptr, &handle, result.get()), DIR_OK);
        std::uint32_t count = 0;
        DirGetClassDefCount(context_, result.get(), &count);
        for (std::uint32_t i = 0; i < count; ++i) {
            char name[DIR_MAX_NAME_BYTES];
            // Item lists left unread are stepped over.
            ASSERT_EQ(DirGetClassDef(context_, result.get(), name, nullptr), DIR_OK);
            names.emplace_back(name);
        }
    } while (handle != DIR_NO_MORE_ITERATIONS);
    EXPECT_GT(calls, 1);
    EXPECT_EQ(names, (std::vector<std::string>{"User", "Group", "NCP Server", "Organization",
                                               "Organizational Unit"}));
    // A definition larger than the whole buffer cannot be handed out at all.
    BufferPtr tiny = AllocBuffer(200);
    EXPECT_EQ(DirReadClassDefs(context_, 1, 1, nullptr, &handle, tiny.get()), DIR_ERR_BUFFER_FULL);
}

}  // namespace
}  // namespace tally::testing
