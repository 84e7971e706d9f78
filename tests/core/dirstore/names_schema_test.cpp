#include <gtest/gtest.h>

#include <algorithm>

#include "dirstore/names.h"
#include "dirstore/schema.h"
#include "store_fixture.h"

namespace tally::store {
namespace {

TEST(Names, DistinguishedAndTypelessNames) {
    std::vector<Rdn> rdns;
    ASSERT_TRUE(parseDn("cn=JSMITH, ou=SALES,o=CORP", rdns, nullptr));
    ASSERT_EQ(rdns.size(), 3u);
    EXPECT_EQ(rdns[1].type, "ou");
    EXPECT_EQ(typelessFromRdns(rdns), "JSMITH.SALES.CORP");
    EXPECT_EQ(formatDn(rdns), "cn=JSMITH,ou=SALES,o=CORP");

    ASSERT_TRUE(parseDn("cn=Smith\\, J.,o=A\\2bB", rdns, nullptr));
    EXPECT_EQ(rdns[0].value, "Smith, J.");
    EXPECT_EQ(rdns[1].value, "A+B");
    EXPECT_EQ(typelessFromRdns(rdns), "Smith, J\\..A+B");
    EXPECT_EQ(formatDn(rdns), "cn=Smith\\, J.,o=A\\+B");

    std::vector<std::string> parts;
    ASSERT_TRUE(splitTypeless("Smith, J\\..A+B", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"Smith, J.", "A+B"}));

    std::string error;
    EXPECT_FALSE(parseDn("cn=A+sn=B,o=C", rdns, &error));
    EXPECT_NE(error.find("multi-valued"), std::string::npos);
    EXPECT_FALSE(parseDn("cn=A,,o=C", rdns, &error));
    EXPECT_FALSE(parseDn("cn=,o=C", rdns, &error));
    EXPECT_FALSE(parseDn("", rdns, &error));
    // A backslash at the very end escapes nothing: the name is refused, not cut short.
    for (const char* cut : {"cn=EVIL\\", "cn=A,o=CORP\\", "\\", "cn=A\\\\\\"}) {
        error.clear();
        EXPECT_FALSE(parseDn(cut, rdns, &error)) << cut;
        EXPECT_NE(error.find("escapes nothing"), std::string::npos) << cut << ": " << error;
    }
    ASSERT_TRUE(parseDn("cn=A\\\\,o=B", rdns, nullptr));
    ASSERT_EQ(rdns.size(), 2u);
    EXPECT_EQ(rdns[0].value, "A\\");
    EXPECT_FALSE(splitTypeless("A..B", parts));
    EXPECT_FALSE(splitTypeless("", parts));

    EXPECT_EQ(parentName("JSMITH.SALES.CORP"), "SALES.CORP");
    EXPECT_EQ(parentName("A\\.B.CORP"), "CORP");
    EXPECT_EQ(parentName("CORP"), "");
    EXPECT_EQ(leafName("A\\.B.CORP"), "A.B");
    EXPECT_TRUE(equalsIgnoreCase("jsmith.Sales.CORP", "JSMITH.SALES.corp"));
    EXPECT_TRUE(CaseInsensitiveLess{}("abc", "ABD"));
    EXPECT_FALSE(CaseInsensitiveLess{}("ABC", "abc"));
}

bool contains(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

TEST(Schema, MapsTheSchemaFileAndTheCoreDefinitions) {
    Schema schema;
    Problem problem;
    ASSERT_TRUE(schema.load(testing::schemaFile(), &problem)) << problem.describe();

    const AttributeDef* balance = schema.attribute("account balance");
    ASSERT_NE(balance, nullptr);
    EXPECT_EQ(balance->ldapName, "accountBalance");
    EXPECT_EQ(balance->syntax, 22u);
    EXPECT_TRUE(balance->singleValued);
    EXPECT_EQ(schema.attributeByLdapName("ACCOUNTBALANCE"), balance);
    EXPECT_EQ(schema.attribute("JOBTALLY:Colour Nolimit")->syntax, 7u);
    EXPECT_EQ(schema.attribute("JOBTALLY:Copier Limit")->syntax, 8u);
    EXPECT_EQ(schema.attribute("Network Address")->syntax, 12u);
    EXPECT_EQ(schema.attribute("Member")->syntax, 1u);
    EXPECT_EQ(schema.attribute("CN")->ldapName, "cn");
    EXPECT_EQ(schema.attribute("Object Class")->syntax, 20u);

    const ClassDef* user = schema.objectClass("User");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->ldapName, "tallyUser");
    EXPECT_EQ(user->itemLists[kSuperClasses], std::vector<std::string>{"Top"});
    EXPECT_EQ(user->itemLists[kContainment],
              (std::vector<std::string>{"Organization", "Organizational Unit"}));
    EXPECT_EQ(user->itemLists[kNamingAttributes], std::vector<std::string>{"CN"});
    EXPECT_EQ(user->itemLists[kMandatory], std::vector<std::string>{"CN"});
    for (const char* name : {"Full Name", "Account Balance", "JOBTALLY:Colour Balance",
                             "JOBTALLY:Colour Nolimit", "JOBTALLY:Copier Nolimit"}) {
        EXPECT_TRUE(contains(user->itemLists[kOptional], name)) << name;
    }
    EXPECT_EQ(schema.namingAttribute(*user)->name, "CN");
    EXPECT_TRUE(schema.allows(*user, "Object Class"));  // through Top
    EXPECT_FALSE(schema.allows(*user, "Member"));

    const ClassDef* unit = schema.objectClass("organizational unit");
    const ClassDef* organization = schema.objectClass("Organization");
    ASSERT_NE(unit, nullptr);
    ASSERT_NE(organization, nullptr);
    EXPECT_EQ(schema.namingAttribute(*unit)->name, "OU");
    EXPECT_EQ(schema.classByLdapName("organization"), organization);
    EXPECT_NE(schema.objectClass("Top"), nullptr);
    EXPECT_TRUE(schema.mayContain(unit, *user));
    EXPECT_TRUE(schema.mayContain(organization, *unit));
    EXPECT_TRUE(schema.mayContain(nullptr, *organization));
    EXPECT_FALSE(schema.mayContain(nullptr, *user));
    EXPECT_FALSE(schema.mayContain(user, *user));
    EXPECT_EQ(schema.objectClass("NCP Server")->ldapName, "tallyFileServer");
}

TEST(Schema, BadDefinitionsNameTheLine) {
    Schema schema;
    Problem problem;
    EXPECT_FALSE(
        schema.loadText("dn: cn=x,cn=schema,cn=config\n"
                        "olcAttributeTypes: ( 1.1 NAME 'a' X-NDS-NAME 'A' X-NDS-SYNTAX '8' )\n"
                        "olcObjectClasses: ( 1.2 NAME 'c' MUST ( cn $ nosuch ) X-NDS-NAME 'C' )\n",
                        "schema.ldif", &problem));
    EXPECT_EQ(problem.line, 3);
    EXPECT_NE(problem.message.find("nosuch"), std::string::npos);

    EXPECT_FALSE(schema.loadText("dn: cn=x\nolcAttributeTypes: ( 1.1 NAME 'a X-NDS-NAME 'A' )\n",
                                 "s", &problem));
    EXPECT_FALSE(schema.loadText(
        "dn: cn=x\nolcAttributeTypes: ( 1.1 NAME 'a' X-NDS-SYNTAX 'eight' )\n", "s", &problem));
    EXPECT_NE(problem.message.find("eight"), std::string::npos);
    EXPECT_FALSE(
        schema.loadText("dn: cn=x\nolcObjectClasses: ( 1.1 NAME ( 'a' )\n", "s", &problem));
}

}  // namespace
}  // namespace tally::store
