// A stand-in for the accounting server: charges print jobs against balances in the directory
// store and appends one print-job record per job to the accounting log, following the log's
// append convention (docs/accounting-log.md) as a print server does. A job is charged only
// while its writer holds the log's lock, and its record is written and flushed before the lock
// is released: no charge without its record, however long another writer keeps the log.
//
//   acctserver STORE LOG ATTRIBUTE COST JOBS USER...
//
// STORE is the embedded store's folder, or a tallynet.ini whose [Store] names the directory (an
// LDAP server, say), read as the directory client reads it.
// Job i charges COST to the balance ATTRIBUTE of USER number i modulo the user count (typeless
// full names) and then appends its record. Exits 0 when every job was charged and logged; a
// job whose log lock cannot be had within TALLY_LOG_LOCK_WAIT seconds (default 30) is not
// charged, and the stand-in stops with 1.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "directory/client_config.h"
#include "directory/dirclient_state.h"
#include "dirstore/store.h"
#include "platform/files.h"

namespace {

constexpr int kDefaultLockWaitSeconds = 30;

struct Arguments {
    std::string store;
    std::string log;
    std::string attribute;
    long cost = 0;
    long jobs = 0;
    std::vector<std::string> users;
};

bool ReadNumber(const char* text, const char* what, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || *value < 0) {
        std::fprintf(stderr, "acctserver: %s: \"%s\" is not a whole number of 0 or more\n", what,
                     text);
        return false;
    }
    return true;
}

bool ReadArguments(int argc, char** argv, Arguments* arguments) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: acctserver STORE LOG ATTRIBUTE COST JOBS USER...\n");
        return false;
    }
    arguments->store = argv[1];
    arguments->log = argv[2];
    arguments->attribute = argv[3];
    if (!ReadNumber(argv[4], "COST", &arguments->cost) ||
        !ReadNumber(argv[5], "JOBS", &arguments->jobs)) {
        return false;
    }
    arguments->users.assign(argv + 6, argv + argc);
    return true;
}

// An ASCII delimited print-job record: pages in field 11, cost in field 12, the balance after.
std::string PrintJobRecord(const std::string& user, long job, long cost,
                           const std::string& balance) {
    return "\"" + user + "\",\"Document " + std::to_string(job) +
           "\",\"LASER1\",\"PSERV1\",\"QUEUE1\",\"ACCT1\",\"\",\"07/04/1999\",\"14:05\",1,1," +
           std::to_string(cost) + "," + balance + "\r\n";
}

std::string BalanceOf(tally::store::Store& store, const std::string& user,
                      const std::string& attribute) {
    const tally::store::Entry* entry = store.Find(user);
    if (entry == nullptr) {
        return "0";
    }
    const auto values = entry->attributes.find(attribute);
    return values == entry->attributes.end() || values->second.empty() ? "0"
                                                                       : values->second.front();
}

// One job: the log's lock first, then the charge, its record written and flushed, and the lock
// released. The store's change is flushed before the record, so that after a power loss the
// log never holds the record of a charge the store lost.
bool ChargeAndRecord(tally::store::Store& store, const Arguments& arguments,
                     const std::string& user, long job, std::chrono::milliseconds wait) {
    std::string error;
    const auto lock = tally::platform::AppendLock::Acquire(arguments.log, &error, wait);
    if (!lock) {
        std::fprintf(stderr, "acctserver: job %ld not charged: %s\n", job, error.c_str());
        return false;
    }
    const tally::store::Status status =
        store.Modify(user, {{tally::store::ChangeKind::AddValue, arguments.attribute,
                             std::to_string(-arguments.cost)}});
    if (status != tally::store::kOk) {
        const auto& warnings = store.Warnings();
        std::fprintf(stderr, "acctserver: charging %s failed (%d)%s%s\n", user.c_str(), status,
                     warnings.empty() ? "" : ": ",
                     warnings.empty() ? "" : warnings.back().message.c_str());
        return false;
    }
    const std::string record =
        PrintJobRecord(user, job, arguments.cost, BalanceOf(store, user, arguments.attribute));
    if (store.Sync() != tally::store::kOk ||
        !tally::platform::AppendToFile(arguments.log, record, &error) ||
        !tally::platform::FlushFileToDisk(arguments.log, &error)) {
        std::fprintf(stderr, "acctserver: job %ld charged but not recorded: %s\n", job,
                     error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!ReadArguments(argc, argv, &arguments)) {
        return 2;
    }
    std::unique_ptr<tally::store::Store> store;
    if (std::filesystem::is_regular_file(arguments.store)) {
        const auto config = tally::directory::LoadClientConfig(arguments.store);
        std::string problem = config.problems.empty() ? "" : config.problems.front();
        if (problem.empty()) {
            store = tally::directory::OpenConfiguredStore(config, problem);
        }
        if (!store) {
            std::fprintf(stderr, "acctserver: %s\n", problem.c_str());
            return 1;
        }
    } else {
        tally::store::Problem problem;
        store = tally::store::Store::Open(arguments.store, &problem);
        if (!store) {
            std::fprintf(stderr, "acctserver: %s\n", problem.Describe().c_str());
            return 1;
        }
    }
    const char* waitText = std::getenv("TALLY_LOG_LOCK_WAIT");
    const std::chrono::seconds wait(waitText != nullptr && std::atoi(waitText) > 0
                                        ? std::atoi(waitText)
                                        : kDefaultLockWaitSeconds);
    for (long job = 0; job < arguments.jobs; ++job) {
        const std::string& user =
            arguments.users[static_cast<std::size_t>(job) % arguments.users.size()];
        if (!ChargeAndRecord(*store, arguments, user, job, wait)) {
            return 1;
        }
    }
    return 0;
}
