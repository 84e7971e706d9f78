// Running tallycmd in the test's own process, over networks laid for the test: the whole program
// but its main, with a fixed clock, its standard output and error kept in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/tallycmd/tallycmd.h"

namespace tally::tallycmd::testing {

namespace fs = std::filesystem;

struct CmdResult {
    int code = -1;
    std::string out;
    std::string err;
};

inline RecordMoment FixedMoment() {
    return {{1999, 7, 5}, "10:30"};
}

inline CmdResult RunCmd(const std::vector<std::string>& words) {
    StringSink out;
    StringSink err;
    Console console{out, err, false};
    CmdResult result;
    result.code = RunTallyCmd(words, console,
                              [](const CommandLine& line, const directory::ClientConfig& config,
                                 RunEnvironment& environment, std::string& error) {
                                  return MakeNativeEnvironment(
                                      line, config, FixedMoment, [](const std::string&) {},
                                      environment, error);
                              });
    result.out = out.Text();
    result.err = err.Text();
    return result;
}

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A folder of the test's own, removed at the end; the current folder moves into it while it
// lives, since reports without --out are written there.
class TempFolder {
  public:
    explicit TempFolder(const std::string& name) {
        std::random_device random;
        path_ = fs::temp_directory_path() / (name + "-" + std::to_string(random()));
        fs::create_directories(path_);
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
    fs::path previous_;
};

// A fresh sample network (tools/samplenet) at `dest`, as lay.sh lays it.
inline void LaySampleNetwork(const fs::path& dest) {
    const std::string command = "bash '" + std::string(TALLY_SOURCE_DIR) +
                                "/tools/samplenet/lay.sh' '" + dest.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

inline fs::path SampleLog(const fs::path& net) {
    return net / "servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG";
}

inline std::string Expected(const std::string& name) {
    return ReadBytes(fs::path(TALLY_SOURCE_DIR) / "tests/e2e/expected" / name);
}

}  // namespace tally::tallycmd::testing
