#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/gendir/gendir_lib.h"

namespace fs = std::filesystem;
using tally::gendir::Options;

namespace {

Options smallNetwork() {
    Options options;
    options.users = 60;
    options.contexts = 3;
    options.groups = 4;
    options.members = 25;
    options.logLines = 400;
    options.seed = 42;
    return options;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Group cn -> its member values, and the set of every entry's dn.
void indexTree(const std::string& ldif, std::set<std::string>& dns,
               std::map<std::string, std::vector<std::string>>& members) {
    std::string dn;
    for (const std::string& line : lines(ldif)) {
        if (line.rfind("dn: ", 0) == 0) {
            dn = line.substr(4);
            dns.insert(dn);
        } else if (line.rfind("member: ", 0) == 0) {
            members[dn].push_back(line.substr(8));
        }
    }
}

bool parse(std::vector<std::string_view> args, Options& options, std::string& error) {
    args.insert(args.begin(), "gendir");
    return tally::gendir::parseArguments(args, options, error);
}

class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("gendir_test_" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        schema_ = root_ / "schema.ldif";
        std::ofstream(schema_) << "dn: cn=tallydesk,cn=schema,cn=config\n";
    }
    void TearDown() override { fs::remove_all(root_); }
    Options optionsFor(const fs::path& out) {
        Options options = smallNetwork();
        options.out = out;
        options.schema = schema_;
        return options;
    }
    fs::path root_;
    fs::path schema_;
};

}  // namespace

TEST(GendirContent, SameOptionsGiveTheSameBytesAndTheSeedChangesThem) {
    Options options = smallNetwork();
    EXPECT_EQ(tally::gendir::directoryLdif(options), tally::gendir::directoryLdif(options));
    EXPECT_EQ(tally::gendir::accountingLog(options), tally::gendir::accountingLog(options));

    Options longerLog = options;
    longerLog.logLines = 10;
    EXPECT_EQ(tally::gendir::directoryLdif(options), tally::gendir::directoryLdif(longerLog))
        << "the log's length must not reshuffle the tree";

    Options otherSeed = options;
    otherSeed.seed = 43;
    EXPECT_NE(tally::gendir::directoryLdif(options), tally::gendir::directoryLdif(otherSeed));
    EXPECT_NE(tally::gendir::accountingLog(options), tally::gendir::accountingLog(otherSeed));
}

TEST(GendirContent, EveryEntrySitsBelowAnEarlierParentAndNamesAreUnique) {
    Options options = smallNetwork();
    std::string ldif = tally::gendir::directoryLdif(options);
    std::set<std::string> seen;
    for (const std::string& line : lines(ldif)) {
        if (line.rfind("dn: ", 0) != 0) {
            continue;
        }
        std::string dn = line.substr(4);
        EXPECT_TRUE(seen.insert(dn).second) << "duplicate " << dn;
        auto comma = dn.find(',');
        if (comma != std::string::npos) {
            EXPECT_TRUE(seen.count(dn.substr(comma + 1))) << dn << " comes before its parent";
        }
    }
    // The users, ADMIN, two servers, the organization, the contexts and the groups.
    EXPECT_EQ(seen.size(), 60u + 1 + 2 + 1 + 3 + 4);
}

TEST(GendirContent, GroupsHoldDistinctExistingMembers) {
    Options options = smallNetwork();
    std::set<std::string> dns;
    std::map<std::string, std::vector<std::string>> members;
    indexTree(tally::gendir::directoryLdif(options), dns, members);
    ASSERT_EQ(members.size(), options.groups);
    for (const auto& [group, values] : members) {
        EXPECT_EQ(values.size(), options.members) << group;
        EXPECT_EQ(std::set<std::string>(values.begin(), values.end()).size(), values.size())
            << group << " repeats a member";
        for (const std::string& member : values) {
            EXPECT_TRUE(dns.count(member)) << group << " holds unknown " << member;
        }
    }
}

TEST(GendirContent, AGroupOfEveryUserWrapsAroundWithoutRepeats) {
    Options options = smallNetwork();
    options.members = options.users;
    std::set<std::string> dns;
    std::map<std::string, std::vector<std::string>> members;
    indexTree(tally::gendir::directoryLdif(options), dns, members);
    for (const auto& [group, values] : members) {
        EXPECT_EQ(std::set<std::string>(values.begin(), values.end()).size(), options.users);
    }
}

TEST(GendirContent, LogHasTheAskedNumberOfCrLfLinesNamingRealUsers) {
    Options options = smallNetwork();
    std::string log = tally::gendir::accountingLog(options);
    std::set<std::string> fullNames;
    for (std::uint32_t u = 0; u < options.users; ++u) {
        fullNames.insert("\"" + tally::gendir::userFullName(options, u) + "\"");
    }
    std::size_t count = 0;
    for (std::size_t start = 0; start < log.size(); ++count) {
        std::size_t end = log.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "last line without CR LF";
        std::string line = log.substr(start, end - start);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_LT(line.size(), 255u);
        if (line[0] == '"') {
            EXPECT_TRUE(fullNames.count(line.substr(0, line.find(',')))) << line;
        }
        start = end + 2;
    }
    EXPECT_EQ(count, options.logLines);
}

TEST(GendirContent, ContextsAndNamesAreStable) {
    Options options = smallNetwork();
    EXPECT_EQ(tally::gendir::contextName(options, 0), "SALES.CORP");
    EXPECT_EQ(tally::gendir::contextName(options, 2), "UNIT0003.CORP");
    EXPECT_EQ(tally::gendir::userName(options, 41), "U00042");
    EXPECT_EQ(tally::gendir::userFullName(options, 4), "U00005.UNIT0002.CORP");
    options.users = 1'234'567;
    EXPECT_EQ(tally::gendir::userName(options, 0), "U0000001");
    EXPECT_NE(tally::gendir::networkIni(smallNetwork()).find("Context=SALES.CORP"),
              std::string::npos);
}

TEST(GendirArguments, AcceptsAFullCommandLine) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--out", "net", "--users", "10000", "--contexts", "2", "--groups", "3",
                       "--members", "10", "--log-lines", "50", "--seed", "9"},
                      options, error))
        << error;
    EXPECT_EQ(options.out, fs::path("net"));
    EXPECT_EQ(options.users, 10000u);
    EXPECT_EQ(options.contexts, 2u);
    EXPECT_EQ(options.groups, 3u);
    EXPECT_EQ(options.members, 10u);
    EXPECT_EQ(options.logLines, 50u);
    EXPECT_EQ(options.seed, 9u);
}

TEST(GendirArguments, MistakesAreNamedNotGuessed) {
    struct Case {
        std::vector<std::string_view> args;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {{"--users", "5"}, "--out"},
        {{"--out", "n"}, "--users"},
        {{"--out", "n", "--users", "12x"}, "'12x'"},
        {{"--out", "n", "--users", "-1"}, "'-1'"},
        {{"--out", "n", "--users", "99999999999"}, "--users"},
        {{"--out", "n", "--users", "5", "--members", "6"}, "--members"},
        {{"--out", "n", "--users", "5", "--contexts", "0"}, "--contexts"},
        {{"--out", "n", "--users", "0", "--log-lines", "3"}, "--log-lines"},
        {{"--out", "n", "--users", "5", "--colour"}, "--colour"},
        {{"--out", "n", "--users", "5", "--bogus", "1"}, "unknown option"},
    };
    for (const Case& c : cases) {
        Options options;
        std::string error;
        EXPECT_FALSE(parse(c.args, options, error)) << c.mentions;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
}

TEST_F(ScratchFolder, WritesACompleteNetworkAndReplacesAnEarlierOne) {
    fs::path out = root_ / "net";
    std::string error;
    ASSERT_TRUE(tally::gendir::writeNetwork(optionsFor(out), error)) << error;
    std::ofstream(out / "directory" / "stale.ldif") << "left from a test\n";
    ASSERT_TRUE(tally::gendir::writeNetwork(optionsFor(out), error)) << error;

    EXPECT_FALSE(fs::exists(out / "directory" / "stale.ldif"));
    EXPECT_TRUE(fs::exists(out / "tallynet.ini"));
    EXPECT_EQ(fs::file_size(out / "directory" / "journal.ldif"), 0u);
    EXPECT_EQ(fs::file_size(out / "directory" / "schema.ldif"), fs::file_size(schema_));
    EXPECT_TRUE(fs::exists(out / "servers/ACCT1/SYS/PUBLIC/JOBTALLY.INI"));
    EXPECT_EQ(fs::file_size(out / "servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG"),
              tally::gendir::accountingLog(optionsFor(out)).size());
}

TEST_F(ScratchFolder, LeavesAnUnrelatedFolderAlone) {
    fs::path out = root_ / "precious";
    fs::create_directories(out);
    std::ofstream(out / "thesis.txt") << "years of work\n";
    std::string error;
    EXPECT_FALSE(tally::gendir::writeNetwork(optionsFor(out), error));
    EXPECT_NE(error.find("precious"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(out / "thesis.txt"));
}

TEST_F(ScratchFolder, AMissingSchemaIsReportedBeforeAnythingIsRemoved) {
    fs::path out = root_ / "net";
    std::string error;
    ASSERT_TRUE(tally::gendir::writeNetwork(optionsFor(out), error)) << error;
    Options options = optionsFor(out);
    options.schema = root_ / "no-such-schema.ldif";
    EXPECT_FALSE(tally::gendir::writeNetwork(options, error));
    EXPECT_NE(error.find("no-such-schema.ldif"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(out / "directory" / "directory.ldif"));
}
