#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "program/session.h"

namespace {

// Accepts "[Root]" and the names it knows; records every name it was given.
class FakeNameContext final : public NameContextSetter {
  public:
    std::set<std::string> accepted{"[Root]", "SALES.CORP", "CORP"};
    std::vector<std::string> calls;
    DirStatus SetNameContext(const std::string& name) override {
        calls.push_back(name);
        return accepted.count(name) ? 0 : DIR_ERR_ILLEGAL_NAME;
    }
};

TEST(StartContext, EmptyCommandLineLeavesTheWorkstationsContext) {
    FakeNameContext client;
    std::string current = "CORP";
    EXPECT_FALSE(ApplyStartContext("", client, current));
    EXPECT_TRUE(client.calls.empty());
    EXPECT_EQ(current, "CORP");
}

TEST(StartContext, AcceptedNameIsTakenFromTheRoot) {
    FakeNameContext client;
    std::string current = "CORP";
    EXPECT_TRUE(ApplyStartContext("SALES.CORP", client, current));
    EXPECT_EQ(client.calls, (std::vector<std::string>{"[Root]", "SALES.CORP"}));
    EXPECT_EQ(current, "SALES.CORP");
}

TEST(StartContext, RefusedNameRestoresTheContextInForce) {
    FakeNameContext client;
    std::string current = "CORP";
    DirStatus refusal = 0;
    EXPECT_FALSE(ApplyStartContext("NOWHERE", client, current, &refusal));
    EXPECT_EQ(client.calls, (std::vector<std::string>{"[Root]", "NOWHERE", "[Root]", "CORP"}));
    EXPECT_EQ(current, "CORP");
    // The refusal says why, so that a server that could not be asked is not taken for a
    // missing container.
    EXPECT_EQ(refusal, DIR_ERR_ILLEGAL_NAME);
}

TEST(StartContext, TextIsPassedWholeWithQuotesAndBlanks) {
    FakeNameContext client;
    client.accepted.insert("\"SALES.CORP\" ");
    std::string current = "CORP";
    EXPECT_TRUE(ApplyStartContext("\"SALES.CORP\" ", client, current));
    EXPECT_EQ(client.calls.at(1), "\"SALES.CORP\" ");
    EXPECT_EQ(current, "\"SALES.CORP\" ");
}

TEST(StartContext, RootRefusedMeansNothingMoreIsTried) {
    FakeNameContext client;
    client.accepted.erase("[Root]");
    std::string current = "CORP";
    EXPECT_FALSE(ApplyStartContext("SALES.CORP", client, current));
    EXPECT_EQ(client.calls, (std::vector<std::string>{"[Root]"}));
}

TEST(StartContext, NameLongerThanAFieldIsRefusedNotCut) {
    FakeNameContext client;
    const std::string longName(256, 'A');
    client.accepted.insert(longName.substr(0, 255));
    std::string current = "CORP";
    EXPECT_FALSE(ApplyStartContext(longName, client, current));
    EXPECT_TRUE(client.calls.empty());
    EXPECT_EQ(current, "CORP");
    EXPECT_TRUE(ApplyStartContext(longName.substr(0, 255), client, current));
}

}  // namespace
