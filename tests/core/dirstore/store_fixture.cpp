#include "store_fixture.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace tally::store::testing {

ScratchFolder::ScratchFolder(std::string_view tag) {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tally-" + std::string(tag) + "-" + std::to_string(stamp) + "-" +
             std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path SchemaFile() {
#ifdef _WIN32
    return std::filesystem::path("Z:" TALLY_SCHEMA_FILE);
#else
    return std::filesystem::path(TALLY_SCHEMA_FILE);
#endif
}

std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::filesystem::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

void AppendText(const std::filesystem::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << text;
}

void LayStore(const std::filesystem::path& folder, std::string_view tree) {
    WriteText(folder / "schema.ldif", ReadText(SchemaFile()));
    WriteText(folder / "directory.ldif", tree);
    WriteText(folder / "journal.ldif", "");
}

}  // namespace tally::store::testing
