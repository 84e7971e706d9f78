// A generated network of `users` users in one context, written to a temporary folder for the
// length of a timing run, with the directory client loaded from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "directory/dirclient.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "tools/gendir/gendir_lib.h"

class GeneratedNetwork {
  public:
    GeneratedNetwork(std::uint32_t users, const std::filesystem::path& schema) {
        options_.out =
            std::filesystem::temp_directory_path() / ("tally-browse-" + std::to_string(users));
        options_.schema = schema;
        options_.users = users;
        options_.groups = users / 100;
        std::string error;
        ok_ = tally::gendir::WriteNetwork(options_, error) &&
              DirClientLoadConfig((options_.out / "tallynet.ini").string().c_str());
        problem_ = error.empty() ? DirClientLastProblem() : error;
        DirectoryContext = DirCreateContext();
        CurrentContextName = tally::gendir::ContextName(options_, 0);
    }
    ~GeneratedNetwork() {
        DirClientReset();
        std::error_code ignored;
        std::filesystem::remove_all(options_.out, ignored);
    }
    GeneratedNetwork(const GeneratedNetwork&) = delete;
    GeneratedNetwork& operator=(const GeneratedNetwork&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Problem() const { return problem_; }

  private:
    tally::gendir::Options options_;
    bool ok_ = false;
    std::string problem_;
};
