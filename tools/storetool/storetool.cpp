// storetool: a store folder from the command line.
//
//   storetool compact DIR                        fold the journal into a new snapshot
//   storetool add DIR NAME ATTR AMOUNT COUNT [--sync]
//                                                add AMOUNT to a counter COUNT times, one
//                                                journal record each; --sync: flush them to
//                                                the disk after the last
//   storetool set DIR NAME ATTR VALUE            overwrite the attribute with one value
//   storetool clear DIR NAME ATTR                remove the attribute
//   storetool get DIR NAME ATTR                  print the attribute's values, one a line
//   storetool export DIR                         print every object as LDIF, as the store
//                                                holds it (snapshot and journal)
//   storetool check DIR                          load the store and print its warnings
//
// NAME is a typeless full name ("JSMITH.SALES.CORP"), ATTR a directory attribute name
// ("Account Balance"), VALUE as the directory client gives it ("TRUE", "-500"). Every change
// goes through the store, so it is checked and journalled as the client's own would be. Exit
// status 0 on success, 1 on failure, 2 on bad usage.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dirstore/store.h"

namespace {

using tally::store::Store;

void Usage() {
    std::fputs(
        "usage: storetool compact DIR\n"
        "       storetool add DIR NAME ATTR AMOUNT COUNT [--sync]\n"
        "       storetool set DIR NAME ATTR VALUE\n"
        "       storetool clear DIR NAME ATTR\n"
        "       storetool get DIR NAME ATTR\n"
        "       storetool export DIR\n"
        "       storetool check DIR\n",
        stderr);
}

void PrintWarnings(const Store& store) {
    for (const auto& warning : store.Warnings()) {
        std::fprintf(stderr, "warning: %s\n", warning.Describe().c_str());
    }
}

std::unique_ptr<Store> OpenStore(const char* folder) {
    tally::store::Problem problem;
    auto store = Store::Open(folder, &problem);
    if (!store) {
        std::fprintf(stderr, "storetool: %s\n", problem.Describe().c_str());
    }
    return store;
}

bool ParseCount(const char* text, long& count) {
    char* end = nullptr;
    count = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && count >= 0;
}

int Compact(const char* folder) {
    auto store = OpenStore(folder);
    if (!store) {
        return 1;
    }
    int status = store->Compact();
    PrintWarnings(*store);
    if (status != 0) {
        std::fprintf(stderr, "storetool: compaction failed, status %d\n", status);
        return 1;
    }
    return 0;
}

int Add(const char* folder, const char* name, const char* attribute, const char* amount,
        const char* countText, bool sync) {
    long count = 0;
    if (!ParseCount(countText, count)) {
        std::fprintf(stderr, "storetool: COUNT \"%s\" is not a number\n", countText);
        return 2;
    }
    auto store = OpenStore(folder);
    if (!store) {
        return 1;
    }
    std::vector<tally::store::Change> change = {
        {tally::store::ChangeKind::AddValue, attribute, amount}};
    for (long i = 0; i < count; ++i) {
        int status = store->Modify(name, change);
        if (status != 0) {
            PrintWarnings(*store);
            std::fprintf(stderr, "storetool: addition %ld of %ld failed, status %d\n", i + 1, count,
                         status);
            return 1;
        }
    }
    if (sync) {
        int status = store->Sync();
        if (status != 0) {
            PrintWarnings(*store);
            std::fprintf(stderr, "storetool: flushing the additions failed, status %d\n", status);
            return 1;
        }
    }
    return 0;
}

// One change of one entry, as a single journal record.
int Change(const char* folder, const char* name, tally::store::ChangeKind kind,
           const char* attribute, const char* value, const char* what) {
    auto store = OpenStore(folder);
    if (!store) {
        return 1;
    }
    int status = store->Modify(name, {{kind, attribute, value}});
    if (status != 0) {
        PrintWarnings(*store);
        std::fprintf(stderr, "storetool: %s of \"%s\" of \"%s\" failed, status %d\n", what,
                     attribute, name, status);
        return 1;
    }
    return 0;
}

int ExportView(const char* folder) {
    std::string ldif;
    tally::store::Problem problem;
    std::vector<tally::store::Problem> warnings;
    bool exported = tally::store::ExportLdif(folder, ldif, &problem, &warnings);
    for (const auto& warning : warnings) {
        std::fprintf(stderr, "warning: %s\n", warning.Describe().c_str());
    }
    if (!exported) {
        std::fprintf(stderr, "storetool: %s\n", problem.Describe().c_str());
        return 1;
    }
    std::fwrite(ldif.data(), 1, ldif.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Get(const char* folder, const char* name, const char* attribute) {
    auto store = OpenStore(folder);
    if (!store) {
        return 1;
    }
    PrintWarnings(*store);
    const tally::store::Entry* entry = store->Find(name);
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

int Check(const char* folder) {
    auto store = OpenStore(folder);
    if (!store) {
        return 1;
    }
    PrintWarnings(*store);
    std::printf("%s: loaded, %zu warning(s)\n", folder, store->Warnings().size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "compact" && argc == 3) {
        return Compact(argv[2]);
    }
    if (command == "add" && (argc == 7 || (argc == 8 && std::string(argv[7]) == "--sync"))) {
        return Add(argv[2], argv[3], argv[4], argv[5], argv[6], argc == 8);
    }
    if (command == "set" && argc == 6) {
        return Change(argv[2], argv[3], tally::store::ChangeKind::Overwrite, argv[4], argv[5],
                      "overwrite");
    }
    if (command == "clear" && argc == 5) {
        return Change(argv[2], argv[3], tally::store::ChangeKind::Clear, argv[4], "", "clear");
    }
    if (command == "export" && argc == 3) {
        return ExportView(argv[2]);
    }
    if (command == "get" && argc == 5) {
        return Get(argv[2], argv[3], argv[4]);
    }
    if (command == "check" && argc == 3) {
        return Check(argv[2]);
    }
    Usage();
    return 2;
}
