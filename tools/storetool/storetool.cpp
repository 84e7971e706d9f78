// storetool: a store folder from the command line.
//
//   storetool compact DIR                        fold the journal into a new snapshot
//   storetool add DIR NAME ATTR AMOUNT COUNT     add AMOUNT to a counter COUNT times, one
//                                                journal record each
//   storetool get DIR NAME ATTR                  print the attribute's values, one a line
//   storetool check DIR                          load the store and print its warnings
//
// NAME is a typeless full name ("JSMITH.SALES.CORP"), ATTR a directory attribute name
// ("Account Balance"). Exit status 0 on success, 1 on failure, 2 on bad usage.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "dirstore/store.h"

namespace {

using tally::store::Store;

void usage() {
    std::fputs(
        "usage: storetool compact DIR\n"
        "       storetool add DIR NAME ATTR AMOUNT COUNT\n"
        "       storetool get DIR NAME ATTR\n"
        "       storetool check DIR\n",
        stderr);
}

void printWarnings(const Store& store) {
    for (const auto& warning : store.warnings()) {
        std::fprintf(stderr, "warning: %s\n", warning.describe().c_str());
    }
}

std::unique_ptr<Store> openStore(const char* folder) {
    tally::store::Problem problem;
    auto store = Store::open(folder, &problem);
    if (!store) {
        std::fprintf(stderr, "storetool: %s\n", problem.describe().c_str());
    }
    return store;
}

bool parseCount(const char* text, long& count) {
    char* end = nullptr;
    count = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && count >= 0;
}

int compact(const char* folder) {
    auto store = openStore(folder);
    if (!store) {
        return 1;
    }
    int status = store->compact();
    printWarnings(*store);
    if (status != 0) {
        std::fprintf(stderr, "storetool: compaction failed, status %d\n", status);
        return 1;
    }
    return 0;
}

int add(const char* folder, const char* name, const char* attribute, const char* amount,
        const char* countText) {
    long count = 0;
    if (!parseCount(countText, count)) {
        std::fprintf(stderr, "storetool: COUNT \"%s\" is not a number\n", countText);
        return 2;
    }
    auto store = openStore(folder);
    if (!store) {
        return 1;
    }
    std::vector<tally::store::Change> change = {
        {tally::store::ChangeKind::AddValue, attribute, amount}};
    for (long i = 0; i < count; ++i) {
        int status = store->modify(name, change);
        if (status != 0) {
            printWarnings(*store);
            std::fprintf(stderr, "storetool: addition %ld of %ld failed, status %d\n", i + 1, count,
                         status);
            return 1;
        }
    }
    return 0;
}

int get(const char* folder, const char* name, const char* attribute) {
    auto store = openStore(folder);
    if (!store) {
        return 1;
    }
    printWarnings(*store);
    const tally::store::Entry* entry = store->find(name);
    if (!entry) {
        std::fprintf(stderr, "storetool: no entry \"%s\"\n", name);
        return 1;
    }
    auto found = entry->attributes.find(attribute);
    if (found == entry->attributes.end()) {
        std::fprintf(stderr, "storetool: \"%s\" holds no \"%s\"\n", name, attribute);
        return 1;
    }
    for (const std::string& value : found->second) {
        std::printf("%s\n", value.c_str());
    }
    return 0;
}

int check(const char* folder) {
    auto store = openStore(folder);
    if (!store) {
        return 1;
    }
    printWarnings(*store);
    std::printf("%s: loaded, %zu warning(s)\n", folder, store->warnings().size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "compact" && argc == 3) {
        return compact(argv[2]);
    }
    if (command == "add" && argc == 7) {
        return add(argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    if (command == "get" && argc == 5) {
        return get(argv[2], argv[3], argv[4]);
    }
    if (command == "check" && argc == 3) {
        return check(argv[2]);
    }
    usage();
    return 2;
}
