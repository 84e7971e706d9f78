#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "dirstore/names.h"
#include "dirstore/schema.h"
#include "store_fixture.h"

namespace tally::store {
namespace {

TEST(Names, DistinguishedAndTypelessNames) {
    std::vector<Rdn> rdns;
    ASSERT_TRUE(ParseDn("cn=JSMITH, ou=SALES,o=CORP", rdns, nullptr));
    ASSERT_EQ(rdns.size(), 3u);
    EXPECT_EQ(rdns[1].type, "ou");
    EXPECT_EQ(TypelessFromRdns(rdns), "JSMITH.SALES.CORP");
    EXPECT_EQ(FormatDn(rdns), "cn=JSMITH,ou=SALES,o=CORP");

    ASSERT_TRUE(ParseDn("cn=Smith\\, J.,o=A\\2bB", rdns, nullptr));
    EXPECT_EQ(rdns[0].value, "Smith, J.");
    EXPECT_EQ(rdns[1].value, "A+B");
    EXPECT_EQ(TypelessFromRdns(rdns), "Smith, J\\..A+B");
    EXPECT_EQ(FormatDn(rdns), "cn=Smith\\, J.,o=A\\+B");

    std::vector<std::string> parts;
    ASSERT_TRUE(SplitTypeless("Smith, J\\..A+B", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"Smith, J.", "A+B"}));

    std::string error;
    EXPECT_FALSE(ParseDn("cn=A+sn=B,o=C", rdns, &error));
    EXPECT_NE(error.find("multi-valued"), std::string::npos);
    EXPECT_FALSE(ParseDn("cn=A,,o=C", rdns, &error));
    EXPECT_FALSE(ParseDn("cn=,o=C", rdns, &error));
    EXPECT_FALSE(ParseDn("", rdns, &error));
    // A backslash at the very end escapes nothing: the name is refused, not cut short.
    for (const char* cut : {"cn=EVIL\\", "cn=A,o=CORP\\", "\\", "cn=A\\\\\\"}) {
        error.clear();
        EXPECT_FALSE(ParseDn(cut, rdns, &error)) << cut;
        EXPECT_NE(error.find("escapes nothing"), std::string::npos) << cut << ": " << error;
    }
    ASSERT_TRUE(ParseDn("cn=A\\\\,o=B", rdns, nullptr));
    ASSERT_EQ(rdns.size(), 2u);
    EXPECT_EQ(rdns[0].value, "A\\");
    EXPECT_FALSE(SplitTypeless("A..B", parts));
    EXPECT_FALSE(SplitTypeless("", parts));

    EXPECT_EQ(ParentName("JSMITH.SALES.CORP"), "SALES.CORP");
    EXPECT_EQ(ParentName("A\\.B.CORP"), "CORP");
    EXPECT_EQ(ParentName("CORP"), "");
    EXPECT_EQ(LeafName("A\\.B.CORP"), "A.B");
    EXPECT_TRUE(EqualsIgnoreCase("jsmith.Sales.CORP", "JSMITH.SALES.corp"));
    EXPECT_TRUE(CaseInsensitiveLess{}("abc", "ABD"));
    EXPECT_FALSE(CaseInsensitiveLess{}("ABC", "abc"));
}

// A DN taken as plain is cut and compared as it stands: it must be exactly what FormatDn writes
// for it. Leaves read in one pass must agree with the whole split.
TEST(Names, PlainDnsAreTheirOwnNormalFormAndLeavesAgreeWithTheSplit) {
    const struct {
        const char* dn;
        bool plain;
    } dns[] = {
        {"cn=U00002,ou=SALES,o=CORP", true},
        {"CN=Alan Lee,dc=tally,dc=test", true},
        {"uid=a.b-c,ou=People", true},
        {"1.2.3=x", true},
        {"cn=JSMITH, ou=SALES", false},
        {"cn= JSMITH", false},
        {"cn=JSMITH ", false},
        {"cn=A\\,B,o=C", false},
        {"cn=#41", false},
        {"cn=a=b", false},
        {"cn=A+sn=B", false},
        {"cn=A;o=B", false},
        {"cn=A,,o=B", false},
        {"cn=A,", false},
        {"=A", false},
        {"c n=A", false},
        {"", false},
        {"cn=\\\"", false},
    };
    for (const auto& [dn, plain] : dns) {
        EXPECT_EQ(IsPlainDn(dn), plain) << dn;
        std::vector<Rdn> rdns;
        if (plain) {
            ASSERT_TRUE(ParseDn(dn, rdns, nullptr)) << dn;
            EXPECT_EQ(FormatDn(rdns), dn);
        }
    }
    for (const char* name : {"A", "A.B", "A\\.B.C", "A\\\\.B", "A..B", ".A", "A.", "", "A\\"}) {
        std::vector<std::string> parts;
        EXPECT_EQ(LeafName(name), SplitTypeless(name, parts) ? parts.front() : "") << name;
    }
    const CaseInsensitiveHash hash;
    for (const char* name :
         {"", "a", "Account Balance", "JSMITH.SALES.CORP", "U00002.SALES.CORP"}) {
        std::string upper(name);
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        EXPECT_EQ(hash(name), hash(upper)) << name;
    }
}

bool Contains(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

TEST(Schema, MapsTheSchemaFileAndTheCoreDefinitions) {
    Schema schema;
    Problem problem;
    ASSERT_TRUE(schema.Load(testing::SchemaFile(), &problem)) << problem.Describe();

    const AttributeDef* balance = schema.Attribute("account balance");
    ASSERT_NE(balance, nullptr);
    EXPECT_EQ(balance->ldapName, "accountBalance");
    EXPECT_EQ(balance->syntax, 22u);
    EXPECT_TRUE(balance->singleValued);
    EXPECT_EQ(schema.AttributeByLdapName("ACCOUNTBALANCE"), balance);
    EXPECT_EQ(schema.Attribute("JOBTALLY:Colour Nolimit")->syntax, 7u);
    EXPECT_EQ(schema.Attribute("JOBTALLY:Copier Limit")->syntax, 8u);
    EXPECT_EQ(schema.Attribute("Network Address")->syntax, 12u);
    EXPECT_EQ(schema.Attribute("Member")->syntax, 1u);
    EXPECT_EQ(schema.Attribute("CN")->ldapName, "cn");
    EXPECT_EQ(schema.Attribute("Object Class")->syntax, 20u);

    const ClassDef* user = schema.ObjectClass("User");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->ldapName, "tallyUser");
    EXPECT_EQ(user->itemLists[kSuperClasses], std::vector<std::string>{"Top"});
    EXPECT_EQ(user->itemLists[kContainment],
              (std::vector<std::string>{"Organization", "Organizational Unit"}));
    EXPECT_EQ(user->itemLists[kNamingAttributes], std::vector<std::string>{"CN"});
    EXPECT_EQ(user->itemLists[kMandatory], std::vector<std::string>{"CN"});
    for (const char* name : {"Full Name", "Account Balance", "JOBTALLY:Colour Balance",
                             "JOBTALLY:Colour Nolimit", "JOBTALLY:Copier Nolimit"}) {
        EXPECT_TRUE(Contains(user->itemLists[kOptional], name)) << name;
    }
    EXPECT_EQ(schema.NamingAttribute(*user)->name, "CN");
    EXPECT_TRUE(schema.Allows(*user, "Object Class"));  // through Top
    EXPECT_FALSE(schema.Allows(*user, "Member"));

    const ClassDef* unit = schema.ObjectClass("organizational unit");
    const ClassDef* organization = schema.ObjectClass("Organization");
    ASSERT_NE(unit, nullptr);
    ASSERT_NE(organization, nullptr);
    EXPECT_EQ(schema.NamingAttribute(*unit)->name, "OU");
    EXPECT_EQ(schema.ClassByLdapName("organization"), organization);
    EXPECT_NE(schema.ObjectClass("Top"), nullptr);
    EXPECT_TRUE(schema.MayContain(unit, *user));
    EXPECT_TRUE(schema.MayContain(organization, *unit));
    EXPECT_TRUE(schema.MayContain(nullptr, *organization));
    EXPECT_FALSE(schema.MayContain(nullptr, *user));
    EXPECT_FALSE(schema.MayContain(user, *user));
    EXPECT_EQ(schema.ObjectClass("NCP Server")->ldapName, "tallyFileServer");
}

TEST(Schema, BadDefinitionsNameTheLine) {
    Schema schema;
    Problem problem;
    EXPECT_FALSE(
        schema.LoadText("dn: cn=x,cn=schema,cn=config\n"
                        "olcAttributeTypes: ( 1.1 NAME 'a' X-NDS-NAME 'A' X-NDS-SYNTAX '8' )\n"
                        "olcObjectClasses: ( 1.2 NAME 'c' MUST ( cn $ nosuch ) X-NDS-NAME 'C' )\n",
                        "schema.ldif", &problem));
    EXPECT_EQ(problem.line, 3);
    EXPECT_NE(problem.message.find("nosuch"), std::string::npos);

    EXPECT_FALSE(schema.LoadText("dn: cn=x\nolcAttributeTypes: ( 1.1 NAME 'a X-NDS-NAME 'A' )\n",
                                 "s", &problem));
    EXPECT_FALSE(schema.LoadText(
        "dn: cn=x\nolcAttributeTypes: ( 1.1 NAME 'a' X-NDS-SYNTAX 'eight' )\n", "s", &problem));
    EXPECT_NE(problem.message.find("eight"), std::string::npos);
    EXPECT_FALSE(
        schema.LoadText("dn: cn=x\nolcObjectClasses: ( 1.1 NAME ( 'a' )\n", "s", &problem));
}

}  // namespace
}  // namespace tally::store
