#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/gendir/gendir_lib.h"

namespace fs = std::filesystem;
using tally::gendir::Options;

namespace {

Options SmallNetwork() {
    Options options;
    options.users = 60;
    options.contexts = 3;
    options.groups = 4;
    options.members = 25;
    options.logLines = 400;
    options.seed = 42;
    return options;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Group cn -> its member values, and the set of every entry's dn.
void IndexTree(const std::string& ldif, std::set<std::string>& dns,
               std::map<std::string, std::vector<std::string>>& members) {
    std::string dn;
    for (const std::string& line : Lines(ldif)) {
        if (line.rfind("dn: ", 0) == 0) {
            dn = line.substr(4);
            dns.insert(dn);
        } else if (line.rfind("member: ", 0) == 0) {
            members[dn].push_back(line.substr(8));
        }
    }
}

bool Parse(std::vector<std::string_view> args, Options& options, std::string& error) {
    args.insert(args.begin(), "gendir");
    return tally::gendir::ParseArguments(args, options, error);
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
    Options OptionsFor(const fs::path& out) {
        Options options = SmallNetwork();
        options.out = out;
        options.schema = schema_;
        return options;
    }
    fs::path root_;
    fs::path schema_;
};

}  // namespace

TEST(GendirContent, SameOptionsGiveTheSameBytesAndTheSeedChangesThem) {
    Options options = SmallNetwork();
    EXPECT_EQ(tally::gendir::DirectoryLdif(options), tally::gendir::DirectoryLdif(options));
    EXPECT_EQ(tally::gendir::AccountingLog(options), tally::gendir::AccountingLog(options));

    Options longerLog = options;
    longerLog.logLines = 10;
    EXPECT_EQ(tally::gendir::DirectoryLdif(options), tally::gendir::DirectoryLdif(longerLog))
        << "the log's length must not reshuffle the tree";

    Options inPages = options;
    inPages.amounts = tally::gendir::Amounts::Pages;
    EXPECT_EQ(tally::gendir::DirectoryLdif(options), tally::gendir::DirectoryLdif(inPages));
    EXPECT_NE(tally::gendir::AccountingLog(options), tally::gendir::AccountingLog(inPages));
    EXPECT_NE(tally::gendir::SharedSettingsIni(inPages).find("NumericalFormat=1\r\n"),
              std::string::npos);

    Options otherSeed = options;
    otherSeed.seed = 43;
    EXPECT_NE(tally::gendir::DirectoryLdif(options), tally::gendir::DirectoryLdif(otherSeed));
    EXPECT_NE(tally::gendir::AccountingLog(options), tally::gendir::AccountingLog(otherSeed));
}

TEST(GendirContent, EveryEntrySitsBelowAnEarlierParentAndNamesAreUnique) {
    Options options = SmallNetwork();
    std::string ldif = tally::gendir::DirectoryLdif(options);
    std::set<std::string> seen;
    for (const std::string& line : Lines(ldif)) {
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
    Options options = SmallNetwork();
    std::set<std::string> dns;
    std::map<std::string, std::vector<std::string>> members;
    IndexTree(tally::gendir::DirectoryLdif(options), dns, members);
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
    Options options = SmallNetwork();
    options.members = options.users;
    std::set<std::string> dns;
    std::map<std::string, std::vector<std::string>> members;
    IndexTree(tally::gendir::DirectoryLdif(options), dns, members);
    for (const auto& [group, values] : members) {
        EXPECT_EQ(std::set<std::string>(values.begin(), values.end()).size(), options.users);
    }
}

TEST(GendirContent, LogHasTheAskedNumberOfCrLfLinesNamingRealUsers) {
    Options options = SmallNetwork();
    std::string log = tally::gendir::AccountingLog(options);
    std::set<std::string> fullNames;
    for (std::uint32_t u = 0; u < options.users; ++u) {
        fullNames.insert("\"" + tally::gendir::UserFullName(options, u) + "\"");
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
    Options options = SmallNetwork();
    EXPECT_EQ(tally::gendir::ContextName(options, 0), "SALES.CORP");
    EXPECT_EQ(tally::gendir::ContextName(options, 2), "UNIT0003.CORP");
    EXPECT_EQ(tally::gendir::UserName(options, 41), "U00042");
    EXPECT_EQ(tally::gendir::UserFullName(options, 4), "U00005.UNIT0002.CORP");
    options.users = 1'234'567;
    EXPECT_EQ(tally::gendir::UserName(options, 0), "U0000001");
    EXPECT_NE(tally::gendir::NetworkIni(SmallNetwork()).find("Context=SALES.CORP"),
              std::string::npos);
}

// The accounting log, read the way the reports read it.
namespace {

using tally::gendir::Amounts;

// A quoted comma belongs to its field; the quotes stay on.
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : line) {
        quoted = c == '"' ? !quoted : quoted;
        if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string Unquote(const std::string& field) {
    return field.starts_with('"') && field.ends_with('"') ? field.substr(1, field.size() - 2) : "?";
}

std::string Trim(const std::string& text) {
    auto first = text.find_first_not_of(' ');
    return first == text.npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "-12.50" is -1250 in Currency, "125" is 125 in Pages.
std::optional<long long> AmountOf(const std::string& text, Amounts amounts) {
    static const std::regex kCurrency("-?[0-9]+\\.[0-9][0-9]"), kPages("-?[0-9]+");
    std::string digits = Trim(text);
    if (!std::regex_match(digits, amounts == Amounts::Currency ? kCurrency : kPages)) {
        return std::nullopt;
    }
    std::erase(digits, '.');
    return std::stoll(digits);
}

struct LogCensus {
    std::size_t lines = 0, readable = 0, jobs = 0, delimitedJobs = 0, emptyJobs = 0;
    std::size_t noFileServer = 0, commaNames = 0;
    std::map<std::string, std::size_t> transactions;  // "A Deposit", "R Photocop", ...
    std::map<int, std::set<std::string>> names;       // print jobs' field number -> the names in it
    std::set<std::string> users;
    std::vector<std::string> faults;
};

// Checks every line against its layout while counting what the log holds, and follows each
// user's balance from record to record where the records show it.
LogCensus CensusOf(const Options& options) {
    std::map<std::string, std::string> ownName;  // full name, and own name, -> own name
    for (std::uint32_t u = 0; u < options.users; ++u) {
        ownName["A " + tally::gendir::UserFullName(options, u)] =
            tally::gendir::UserName(options, u);
        ownName["R " + tally::gendir::UserName(options, u)] = tally::gendir::UserName(options, u);
    }
    std::map<std::string, std::optional<long long>> balances;
    LogCensus census;
    std::istringstream log(tally::gendir::AccountingLog(options));
    for (std::string line; std::getline(log, line); ++census.lines) {
        auto fault = [&](const char* why) { census.faults.push_back(why + (": " + line)); };
        const bool crlf = line.ends_with('\r');
        line.resize(line.size() - (crlf ? 1 : 0));
        const bool readable = !line.starts_with('"');
        const std::vector<std::string> f = readable ? std::vector<std::string>() : CsvFields(line);
        if (!crlf || (readable ? line.size() < 71 || line[10] != ' ' : f.size() != 13)) {
            fault("no CR LF, or too short");
            continue;
        }
        // Who, what, how many pages and the two amounts, where each layout places them.
        const std::string user = readable ? "R " + Trim(line.substr(0, 10)) : "A " + Unquote(f[0]);
        const std::string tag = readable ? Trim(line.substr(11, 8)) : Unquote(f[1]);
        const std::string pages = readable ? line.substr(58, 4) : f[10];
        const bool transaction = readable ? Trim(line.substr(50, 14)).empty() : f[9] + f[10] == "";
        std::string first = readable ? line.substr(63, 8) : f[11];
        std::string second = readable ? first : f[12];  // a Readable job shows no balance
        if (readable && transaction) {
            std::istringstream(line.substr(64)) >> first >> second;
        }
        auto change = AmountOf(first, options.amounts), after = AmountOf(second, options.amounts);
        if (!ownName.count(user) || !change || !after) {
            fault("no generated user, or no amounts in their place");
            continue;
        }
        census.users.insert(ownName[user]);
        census.readable += readable;
        std::optional<long long>& balance = balances[ownName[user]];
        if (transaction) {
            ++census.transactions[(readable ? "R " : "A ") + tag];
            if (tag != "SetLimit" && tag != "SetBal" && balance && *balance + *change != *after) {
                fault("the balance after does not follow from the last one");
            }
            balance = tag == "SetLimit" ? balance : after;
            continue;
        }
        if ((readable &&
             (line.size() != 71 || line[61] == ' ' || line[62] != ' ' || line[70] == ' ')) ||
            Trim(pages).find_first_not_of("0123456789") != std::string::npos || Trim(pages) == "") {
            fault("pages and cost not right-aligned in columns 58-61 and 63-70");
            continue;
        }
        ++census.jobs;
        census.emptyJobs += std::stoll(pages) == 0;
        if (*change < 0 || (std::stoll(pages) == 0) != (*change == 0)) {
            fault("the cost does not go with the pages");
        }
        if (!readable && balance && *balance - *change != *after) {
            fault("the balance after is not the last one less the cost");
        }
        balance = readable ? std::nullopt : after;  // the Readable layout does not show it
        if (!readable) {
            ++census.delimitedJobs;
            census.noFileServer += f[5].empty();
            census.commaNames += (Unquote(f[2]) + Unquote(f[4])).find(',') != std::string::npos;
            for (int field : {3, 4, 5, 7}) {
                census.names[field].insert(Unquote(f[field - 1]));
            }
        }
    }
    return census;
}

}  // namespace

TEST(GendirLog, EveryLineKeepsItsLayoutAndTheMixStaysRealistic) {
    struct Case {
        const char* name;
        std::uint32_t users, contexts, lines;
        Amounts amounts;
    };
    const std::vector<Case> cases = {
        {"thousands of users", 5000, 10, 100'000, Amounts::Currency},
        {"pages, one context", 60, 1, 20'000, Amounts::Pages},
        {"one line", 60, 3, 1, Amounts::Currency},
        {"no log", 60, 3, 0, Amounts::Pages},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options options = SmallNetwork();
        options.users = c.users;
        options.contexts = c.contexts;
        options.logLines = c.lines;
        options.amounts = c.amounts;
        LogCensus census = CensusOf(options);
        EXPECT_EQ(census.lines, c.lines);
        EXPECT_TRUE(census.faults.empty())
            << census.faults.size() << " faulty lines, the first: " << census.faults.front();
        if (c.lines < 20'000) {
            continue;
        }
        auto share = [](std::size_t part, std::size_t whole) { return 1.0 * part / whole; };
        EXPECT_NEAR(share(census.readable, census.lines), 0.10, 0.02);
        EXPECT_NEAR(share(census.jobs, census.lines), 0.88, 0.02);
        EXPECT_NEAR(share(census.emptyJobs, census.jobs), 0.02, 0.01);
        EXPECT_NEAR(share(census.noFileServer, census.delimitedJobs), 0.005, 0.003);
        EXPECT_NEAR(share(census.commaNames, census.delimitedJobs), 0.045, 0.02);
        for (const char* tag : {"A Deposit", "A Charge", "A Photocopies", "A SetBal", "A SetLimit",
                                "R Deposit", "R Charge", "R Photocop", "R SetBal", "R SetLimit"}) {
            EXPECT_GE(census.transactions[tag], 10u) << tag;
        }
        EXPECT_EQ(census.transactions.size(), 10u) << "no other kind of transaction";
        EXPECT_EQ(census.names[3].size(), 24u) << "printers";
        EXPECT_EQ(census.names[4].size(), 6u) << "print servers";
        EXPECT_EQ(census.names[5].size(), 12u) << "queues";
        EXPECT_EQ(census.names[7].size(), 40u) << "client codes";
        EXPECT_EQ(census.users.size(), c.users) << "every user prints";
    }
}

TEST(GendirArguments, AcceptsAFullCommandLine) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"--out", "net", "--users", "10000", "--contexts", "2", "--groups", "3",
                       "--members", "10", "--log-lines", "50", "--seed", "9", "--amounts", "pages"},
                      options, error))
        << error;
    EXPECT_EQ(options.out, fs::path("net"));
    EXPECT_EQ(options.users, 10000u);
    EXPECT_EQ(options.contexts, 2u);
    EXPECT_EQ(options.groups, 3u);
    EXPECT_EQ(options.members, 10u);
    EXPECT_EQ(options.logLines, 50u);
    EXPECT_EQ(options.seed, 9u);
    EXPECT_EQ(options.amounts, tally::gendir::Amounts::Pages);
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
        {{"--out", "n", "--users", "5", "--amounts", "euros"}, "'euros'"},
    };
    for (const Case& c : cases) {
        Options options;
        std::string error;
        EXPECT_FALSE(Parse(c.args, options, error)) << c.mentions;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
}

TEST_F(ScratchFolder, WritesACompleteNetworkAndReplacesAnEarlierOne) {
    fs::path out = root_ / "net";
    Options options = OptionsFor(out);
    options.logLines = 15'000;  // the log goes out in more than one piece
    std::string error;
    ASSERT_TRUE(tally::gendir::WriteNetwork(options, error)) << error;
    std::ofstream(out / "directory" / "stale.ldif") << "left from a test\n";
    ASSERT_TRUE(tally::gendir::WriteNetwork(options, error)) << error;

    EXPECT_FALSE(fs::exists(out / "directory" / "stale.ldif"));
    EXPECT_TRUE(fs::exists(out / "tallynet.ini"));
    EXPECT_EQ(fs::file_size(out / "directory" / "journal.ldif"), 0u);
    EXPECT_EQ(fs::file_size(out / "directory" / "schema.ldif"), fs::file_size(schema_));
    EXPECT_TRUE(fs::exists(out / "servers/ACCT1/SYS/PUBLIC/JOBTALLY.INI"));
    std::ifstream log(out / "servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()),
              tally::gendir::AccountingLog(options));
}

TEST_F(ScratchFolder, LeavesAnUnrelatedFolderAlone) {
    fs::path out = root_ / "precious";
    fs::create_directories(out);
    std::ofstream(out / "thesis.txt") << "years of work\n";
    std::string error;
    EXPECT_FALSE(tally::gendir::WriteNetwork(OptionsFor(out), error));
    EXPECT_NE(error.find("precious"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(out / "thesis.txt"));
}

TEST_F(ScratchFolder, AMissingSchemaIsReportedBeforeAnythingIsRemoved) {
    fs::path out = root_ / "net";
    std::string error;
    ASSERT_TRUE(tally::gendir::WriteNetwork(OptionsFor(out), error)) << error;
    Options options = OptionsFor(out);
    options.schema = root_ / "no-such-schema.ldif";
    EXPECT_FALSE(tally::gendir::WriteNetwork(options, error));
    EXPECT_NE(error.find("no-such-schema.ldif"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(out / "directory" / "directory.ldif"));
}
