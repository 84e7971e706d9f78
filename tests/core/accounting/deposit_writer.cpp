// TallyDesk's side of the log concurrency test: deposits 1 to each named user, round after
// round, the way the amount dialog does for a multiple selection (the directory client over the
// store named by a tallynet.ini, then one transaction record per change). Built in both builds, so
// that the Windows writer under Wine and the native one meet the accounting server's stand-in.
//
//   deposit_writer TALLYNET_INI LOG ROUNDS USER...
//
// TALLY_DEPOSIT_PAUSE_MS (optional) pauses between rounds, as an operator does between changes,
// so that a run of thousands of rounds leaves the other writers their turn at the log.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "accounting/account_attributes.h"
#include "accounting/account_changes.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "program/settings.h"
#include "tests/core/accounting/deposit_session.h"

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: deposit_writer TALLYNET_INI LOG ROUNDS USER...\n");
        return 2;
    }
    if (!DirClientLoadConfig(argv[1])) {
        std::fprintf(stderr, "deposit_writer: %s\n", DirClientLastProblem());
        return 1;
    }
    StartDepositOfOne(argv[2]);

    const long rounds = std::strtol(argv[3], nullptr, 10);
    const char* pauseText = std::getenv("TALLY_DEPOSIT_PAUSE_MS");
    const std::chrono::milliseconds pause(pauseText ? std::strtol(pauseText, nullptr, 10) : 0);
    const std::vector<std::string> users(argv + 4, argv + argc);
    DirectoryAccountHost host([] { return RecordMoment{{1999, 7, 4}, "14:05"}; });
    for (long round = 0; round < rounds; ++round) {
        const BatchOutcome outcome = ApplyToEntries(users, host);
        const std::string problems = BatchProblemMessage(outcome);
        if (!problems.empty()) {
            std::fprintf(stderr, "deposit_writer: %s\n(directory client: %s)\n", problems.c_str(),
                         DirClientLastProblem());
            return 1;
        }
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
    }
    return 0;
}
