// The statistics and the print history read the same records: over a generated log of thousands
// of lines, each user's totals in the statistics equal that user's own history, and the
// statistics' grand totals equal the sum of every history. The log is the generator's, with
// printer and queue names holding commas inside their quotes, empty fields and transaction
// records with the operator's own charge reasons among the print jobs; to it come print jobs
// whose title, printer, queue or client code holds one of the transaction records' tag words.
#include <gtest/gtest.h>

#include <sstream>

#include "reports/print_history.h"
#include "reports/print_statistics.h"
#include "tools/gendir/gendir_lib.h"

namespace tally::reports {
namespace {

TEST(ReportsCrossCheck, StatisticsByUserEqualEachUsersHistory) {
    gendir::Options options;
    options.users = 150;
    options.contexts = 3;
    options.logLines = 30000;
    const std::string log = gendir::AccountingLog(options);

    // The statistics read ASCII delimited records only; the history would also count a user's
    // Readable lines, so both are given the delimited lines alone.
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '"') {
            lines.push_back(line + "\n");
        }
    }
    ASSERT_GT(lines.size(), 20000u);
    // Print jobs of the log's own users whose texts hold a tag word: a print job all the same.
    const char* const kTagWordJobs[] = {
        "\",\"Chargeback "
        "list\",\"LASER1\",\"PS1\",\"Q1\",\"ACCT1\",\"C1\",\"d\",\"t\",1,4,0.20\r\n",
        "\",\"Deposit "
        "form\",\"Deposit\",\"PS1\",\"SetBal\",\"ACCT1\",\"C1\",\"d\",\"t\",1,3,0.15\r\n",
        "\",\"Doc\",\"LASER1\",\"PS1\",\"Q1\",\"ACCT1\",\"SetLimit\",\"d\",\"t\",2,5,0.25\r\n",
        "\",\"Charge\",\"Charge\",\"PS1\",\"Q1\",\"ACCT1\",\"C1\",\"d\",\"t\",1,7,0.35\r\n",
    };
    const std::size_t original = lines.size();
    for (std::size_t i = 0; i < original; i += 997) {
        const std::string& line = lines[i];
        const std::string user = line.substr(0, line.find('"', 1));  // the opening quote and name
        for (const char* job : kTagWordJobs) {
            lines.push_back(user + job);
        }
    }

    const AmountMode mode = MakeAmountMode(true, 2);
    PrintStatistics statistics(kByUser, "User", false, mode);
    for (const std::string& line : lines) {
        statistics.Take(line);
    }
    ASSERT_GT(statistics.RowCount(), 100u);

    std::int64_t pages = 0;
    double cost = 0;
    for (const PrintStatistics::Row& row : statistics.Rows()) {
        PrintHistory history({row.name, row.name, false}, mode);
        for (const std::string& line : lines) {
            history.Take(line);
        }
        EXPECT_EQ(history.TotalPages(), row.pages) << row.name;
        EXPECT_NEAR(history.TotalCost().decimal, row.cost.decimal, 1e-6) << row.name;
        pages += history.TotalPages();
        cost += history.TotalCost().decimal;
    }
    EXPECT_EQ(pages, statistics.TotalPages());
    EXPECT_NEAR(cost, statistics.TotalCost().decimal, 1e-4);
}

}  // namespace
}  // namespace tally::reports
