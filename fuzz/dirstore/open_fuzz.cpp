// A store folder made of fuzzed files: the input is the snapshot, then (after the first
// separator line) the journal, laid beside the real schema. Opening, listing, refreshing, a
// change and a compaction must never crash; a change the store made must leave files that load;
// what a compaction wrote must load again, without warnings, with the very entries it was
// written from; and a compaction that refuses must leave the snapshot as it was.
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dirstore/store.h"

namespace {

namespace fs = std::filesystem;
using tally::store::Store;

constexpr std::string_view kSeparator = "\n==== journal.ldif ====\n";

std::string ReadWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const fs::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// One scratch folder for the process, in memory where the system has such a place (every
// compaction flushes its files to the disk); removed when the process ends.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::error_code error;
        fs::path base =
            fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
        path_ = base / ("tally-open-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path_);
        WriteWholeFile(path_ / "schema.ldif", ReadWholeFile(TALLY_SCHEMA_FILE));
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

const fs::path& ScratchFolderPath() {
    static const ScratchFolder kFolder;
    return kFolder.Path();
}

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find(kSeparator);
    std::string_view snapshot = input.substr(0, split);
    std::string_view journal = split == std::string_view::npos
                                   ? std::string_view()
                                   : input.substr(split + kSeparator.size());

    const fs::path& folder = ScratchFolderPath();
    std::error_code ignored;
    fs::remove(folder / "directory.ldif.tmp", ignored);
    fs::remove(folder / "journal.ldif.tmp", ignored);
    fs::remove(folder / "store.lock", ignored);
    WriteWholeFile(folder / "directory.ldif", snapshot);
    WriteWholeFile(folder / "journal.ldif", journal);

    tally::store::Problem problem;
    auto store = Store::Open(folder, &problem, std::chrono::milliseconds(0));
    if (!store) {
        return 0;
    }
    // Every entry is reachable from the top of the tree and found under its own name.
    std::vector<std::string> containers{""};
    const tally::store::Entry* someEntry = nullptr;
    while (!containers.empty()) {
        std::string container = std::move(containers.back());
        containers.pop_back();
        for (const tally::store::Entry* entry : store->Children(container)) {
            Check(store->Find(entry->name) == entry);
            containers.push_back(entry->name);
            someEntry = someEntry ? someEntry : entry;
        }
    }
    Check(store->Refresh() == tally::store::kOk);
    if (someEntry) {
        std::string name = someEntry->name;
        store->Modify(name, {{tally::store::ChangeKind::AddValue, "Account Balance", "7"}});
        store->Modify(name, {{tally::store::ChangeKind::Overwrite, "Full Name", "Fuzz"}});
    }
    store->Sync();

    std::string before;
    Check(tally::store::ExportLdif(folder, before, &problem));
    std::string snapshotBefore = ReadWholeFile(folder / "directory.ldif");
    if (store->Compact() != tally::store::kOk) {
        Check(ReadWholeFile(folder / "directory.ldif") == snapshotBefore);
        return 0;
    }
    auto again = Store::Open(folder, &problem);
    Check(again != nullptr);
    Check(again->Warnings().empty());
    std::string after;
    Check(tally::store::ExportLdif(folder, after, &problem));
    Check(after == before);
    return 0;
}
