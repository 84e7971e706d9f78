// tallycmd's periods, trend and audit on generated networks, checked against totals the test
// works out itself from the log's lines: a period cut in every date order, across the turn of a
// year and with dates that cannot be read; the audit of a consistent network, then with a record
// removed, a balance changed behind the program's back and a print job added.
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "tests/core/tools/tallycmd_fixture.h"
#include "tools/gendir/gendir_lib.h"

namespace tally::tallycmd::testing {
namespace {

struct Day {
    int year = 0, month = 0, day = 0;
    int Key() const { return year * 10000 + month * 100 + day; }
};

std::string Iso(const Day& day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

// The fields of a delimited line, quotes honoured and removed.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// What the test knows of one line of a generated log.
struct LogLine {
    bool delimited = false;
    bool printJob = false;
    std::string user;  // full name (delimited) or listed name (Readable)
    std::string date;  // as written
    long pages = 0;
    long cents = 0;
};

LogLine Parse(const std::string& line) {
    LogLine parsed;
    if (!line.empty() && line.front() == '"') {
        const std::vector<std::string> f = Fields(line);
        parsed.delimited = true;
        parsed.user = f[0];
        parsed.date = f[7];
        parsed.printJob = !f[10].empty();
        if (parsed.printJob) {
            parsed.pages = std::stol(f[10]);
            parsed.cents = std::lround(std::stod(f[11]) * 100);
        }
        return parsed;
    }
    parsed.user = line.substr(0, line.find(' '));
    parsed.date = line.substr(33, line.find(' ', 33) - 33);
    const std::string pages = line.size() > 61 ? line.substr(58, 4) : "";
    parsed.printJob = pages.find_first_not_of(' ') != std::string::npos;
    if (parsed.printJob) {
        parsed.pages = std::stol(pages);
        parsed.cents = std::lround(std::stod(line.substr(63, 8)) * 100);
    }
    return parsed;
}

Day FromMonthFirst(const std::string& date) {  // dates of a log written in order 0
    Day day;
    std::sscanf(date.c_str(), "%d/%d/%d", &day.month, &day.day, &day.year);
    return day;
}

gendir::Options NetworkOptions(const fs::path& out) {
    gendir::Options options;
    options.out = out;
    options.schema = std::string(TALLY_SOURCE_DIR) + "/dirstore/schema/tallydesk.ldif";
    options.users = 60;
    options.logLines = 40000;  // 200 a day from 1 July 1999: past New Year into January 2000
    return options;
}

struct Totals {
    long pages = 0;
    long cents = 0;
};

// Pages and cents of a CSV report's rows (first column a name or period).
Totals CsvTotals(const std::string& csv) {
    Totals totals;
    const std::vector<std::string> rows = Lines(csv);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string> f = Fields(rows[i]);
        totals.pages += std::stol(f[f.size() - 2]);
        totals.cents += std::lround(std::stod(f.back()) * 100);
    }
    return totals;
}

TEST(TallyCmdPeriods, APeriodCountsTheLinesDatedInItInEveryDateOrder) {
    TempFolder folder("tallycmd-periods");
    // The same log in month/day/year order tells the test each line's date.
    gendir::Options reference = NetworkOptions(folder.Path() / "reference");
    const std::vector<std::string> referenceLines = Lines(gendir::AccountingLog(reference));
    // Lines whose date no order reads: the first delimited print job from each of these lines
    // on, one of them at the turn of the year.
    std::set<std::size_t> spoiled;
    for (std::size_t from : {101, 7003, 36020, 36801, 39990}) {
        while (!(Parse(referenceLines[from]).delimited && Parse(referenceLines[from]).printJob)) {
            ++from;
        }
        spoiled.insert(from);
    }
    const std::string user = gendir::UserName(reference, 3);
    const std::string userFullName = gendir::UserFullName(reference, 3);

    struct Period {
        std::vector<std::string> words;
        Day since;
        Day until;
    };
    const std::vector<Period> periods = {
        {{"--since", "1999-12-20", "--until", "2000-01-10"}, {1999, 12, 20}, {2000, 1, 10}},
        {{"--since", "2000-01-01"}, {2000, 1, 1}, {9999, 12, 31}},
        {{"--until", "1999-07-31"}, {0, 0, 0}, {1999, 7, 31}},
        {{"--period", "this-month"}, {1999, 7, 1}, {1999, 7, 31}},  // the clock: 5 July 1999
        {{"--period", "last-year"}, {1998, 1, 1}, {1998, 12, 31}},
        {{"--period", "this-year"}, {1999, 1, 1}, {1999, 12, 31}},
    };
    for (const int order : {0, 1, 2}) {
        gendir::Options options = NetworkOptions(folder.Path() / ("net" + std::to_string(order)));
        options.dateOrder = order;
        std::string error;
        ASSERT_TRUE(gendir::WriteNetwork(options, error)) << error;
        std::vector<std::string> lines = Lines(ReadBytes(SampleLog(options.out)));
        ASSERT_EQ(lines.size(), referenceLines.size());
        std::string log;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (spoiled.count(i) != 0) {
                const LogLine parsed = Parse(lines[i]);
                ASSERT_TRUE(parsed.delimited && parsed.printJob) << "line " << i;
                lines[i].replace(lines[i].find(parsed.date), parsed.date.size(),
                                 i % 2 == 0 ? "00/00/0000" : "2000-01-02");
            }
            log += lines[i] + "\r\n";
        }
        WriteBytes(SampleLog(options.out), log);
        const std::string ini = (options.out / "tallynet.ini").string();

        for (const Period& period : periods) {
            const std::string label =
                "order " + std::to_string(order) + " " + ::testing::PrintToString(period.words);
            Totals stats;
            Totals history;
            std::string firstDate;
            std::string lastDate;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const LogLine ref = Parse(referenceLines[i]);
                const Day day = FromMonthFirst(ref.date);
                if (spoiled.count(i) != 0 || day.Key() < period.since.Key() ||
                    day.Key() > period.until.Key()) {
                    continue;
                }
                const LogLine line = Parse(lines[i]);
                if (line.delimited && line.printJob) {
                    firstDate = firstDate.empty() ? line.date : firstDate;
                    lastDate = line.date;
                    if (line.pages > 0) {
                        stats.pages += line.pages;
                        stats.cents += line.cents;
                    }
                }
                if (line.user == (line.delimited ? userFullName : user) && line.pages != 0) {
                    history.pages += line.pages;
                    history.cents += line.cents;
                }
            }
            auto run = [&](std::vector<std::string> words) {
                words.insert(words.begin(),
                             {"--ini", ini, "--date-order", std::to_string(order), "--out", "-"});
                words.insert(words.end(), period.words.begin(), period.words.end());
                return RunCmd(words);
            };
            const CmdResult csv = run({"stats", "--csv"});
            ASSERT_EQ(csv.code, 0) << label << csv.err;
            const Totals got = CsvTotals(csv.out);
            EXPECT_EQ(got.pages, stats.pages) << label;
            EXPECT_EQ(got.cents, stats.cents) << label;

            // A period without print jobs (last year's) says so in words.
            const CmdResult text = run({"stats"});
            EXPECT_EQ(text.out.substr(0, text.out.find("\r\n")),
                      firstDate.empty() ? "User print totals: no print jobs from " +
                                              Iso(period.since) + " to " + Iso(period.until)
                                        : "User print totals: " + firstDate + " to " +
                                              (firstDate == lastDate ? "" : lastDate))
                << label;
            // The spoiled lines lie in no period and are counted on standard error.
            EXPECT_NE(text.err.find("5 lines were left out of the period"), std::string::npos)
                << label << text.err;

            const CmdResult trend = run({"trend", "--by", "week", "--csv"});
            ASSERT_EQ(trend.code, 0) << label << trend.err;
            const Totals weeks = CsvTotals(trend.out);
            EXPECT_EQ(weeks.pages, stats.pages) << label;
            EXPECT_EQ(weeks.cents, stats.cents) << label;

            const CmdResult listed = run({"history", user});
            ASSERT_EQ(listed.code, 0) << label << listed.err;
            char totals[96];
            std::snprintf(totals, sizeof totals, "Total pages: %ld\r\nTotal cost: %ld.%02ld\r\n",
                          history.pages, history.cents / 100, history.cents % 100);
            EXPECT_NE(listed.out.find(totals), std::string::npos) << label << totals;
        }
    }
}

// The users the audit lists as differing, from its CSV.
std::set<std::string> Differing(const std::string& csv) {
    std::set<std::string> users;
    for (const std::string& row : Lines(csv)) {
        const std::vector<std::string> f = Fields(row);
        if (f.size() == 5 && f[4] == "differs") {
            users.insert(f[0]);
        }
    }
    return users;
}

TEST(TallyCmdAudit, ExactlyTheUsersWhoseLogAndBalanceDisagreeAreListed) {
    TempFolder folder("tallycmd-audit");
    gendir::Options options = NetworkOptions(folder.Path() / "net");
    options.users = 300;
    options.logLines = 3000;  // few records a user: some users have none that states a balance
    options.balancesFromLog = true;
    std::string error;
    ASSERT_TRUE(gendir::WriteNetwork(options, error)) << error;
    const std::string ini = (options.out / "tallynet.ini").string();
    const fs::path logPath = SampleLog(options.out);
    const fs::path ldifPath = options.out / "directory" / "directory.ldif";
    const std::vector<std::optional<std::int64_t>> implied = gendir::LogImpliedBalances(options);

    // Users with a stated balance, and the index of each one's last delimited balance record.
    std::vector<std::string> lines = Lines(ReadBytes(logPath));
    std::map<std::string, std::vector<std::size_t>> records;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LogLine line = Parse(lines[i]);
        if (line.delimited && !line.printJob && Fields(lines[i])[1] != "SetLimit") {
            records[line.user.substr(0, line.user.find('.'))].push_back(i);
        }
    }
    std::size_t unrecorded = 0;
    std::vector<std::string> candidates;  // two balance records or more, the last delimited
    for (std::uint32_t u = 0; u < options.users; ++u) {
        const std::string name = gendir::UserName(options, u);
        unrecorded += implied[u] ? 0 : 1;
        const auto found = records.find(name);
        if (found != records.end() && found->second.size() >= 2) {
            candidates.push_back(name);
        }
    }
    ASSERT_GE(candidates.size(), 3u);
    ASSERT_GT(unrecorded, 0u);
    const std::string removed = candidates[0];
    const std::string changed = candidates[1];
    const std::string printed = candidates[2];

    using Mutation = std::function<void()>;
    struct Step {
        std::string what;
        Mutation mutate;
        std::set<std::string> differing;
    };
    const std::vector<Step> steps = {
        {"consistent", [] {}, {}},
        {"a record removed",
         [&] {
             lines.erase(lines.begin() + static_cast<long>(records[removed].back()));
             std::string log;
             for (const std::string& line : lines) {
                 log += line + "\r\n";
             }
             WriteBytes(logPath, log);
         },
         {removed}},
        {"a balance changed behind the program's back",
         [&] {
             std::string ldif = ReadBytes(ldifPath);
             const std::size_t entry = ldif.find("dn: cn=" + changed + ",");
             const std::size_t balance = ldif.find("accountBalance: ", entry);
             const std::size_t end = ldif.find('\n', balance);
             ldif.replace(balance, end - balance, "accountBalance: 123456");
             WriteBytes(ldifPath, ldif);
         },
         {removed, changed}},
        {"a print job added",
         [&] {
             std::string log = ReadBytes(logPath);
             log += "\"" + printed +
                    ".SALES.CORP\",\"Late job\",\"LASER01\",\"PS_CORP\",\"Q_SALES\",\"ACCT1\","
                    "\"C100\",\"01/01/2000\",\"08:00\",1,20,1.00,0.00\r\n";
             WriteBytes(logPath, log);
         },
         {removed, changed, printed}},
    };
    for (const Step& step : steps) {
        step.mutate();
        const CmdResult csv = RunCmd({"--ini", ini, "audit", "--csv", "--out", "-"});
        EXPECT_EQ(csv.code, step.differing.empty() ? 0 : 1) << step.what << csv.err;
        EXPECT_EQ(Differing(csv.out), step.differing) << step.what;
        std::size_t noRecord = 0;
        for (const std::string& row : Lines(csv.out)) {
            noRecord += row.size() > 10 && row.substr(row.size() - 10) == ",no record" ? 1 : 0;
        }
        EXPECT_EQ(noRecord, unrecorded) << step.what;

        // The text report lists the differing users first, each with its lines since its last
        // record; the added print job is among them.
        const CmdResult text = RunCmd({"--ini", ini, "audit", "--out", "-"});
        EXPECT_EQ(text.code, csv.code) << step.what;
        const std::size_t agree = text.out.find("Balances that agree");
        for (const std::string& user : step.differing) {
            EXPECT_LT(text.out.find("\r\n" + user + " "), agree) << step.what << " " << user;
        }
        if (step.differing.count(printed) != 0) {
            EXPECT_LT(text.out.find("\"Late job\""), agree) << step.what;
        }
    }

    // A target narrows the audit; --context reaches another context's users the same way.
    const CmdResult one = RunCmd({"--ini", ini, "audit", changed, "--csv", "--out", "-"});
    EXPECT_EQ(one.code, 1);
    EXPECT_EQ(Differing(one.out), std::set<std::string>{changed});
    const CmdResult unknown = RunCmd({"--ini", ini, "audit", "NOBODY"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_NE(unknown.err.find("NOBODY"), std::string::npos);
}

}  // namespace
}  // namespace tally::tallycmd::testing
