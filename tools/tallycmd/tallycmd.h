// tallycmd: the window's account operations and reports from the command line, over the same
// core. RunTallyCmd is the whole program but for what differs between Windows and the native
// build (the profile files, the locale, the clock, paths on servers), which main hands in.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounting/account_changes.h"
#include "directory/client_config.h"
#include "program/settings.h"
#include "tools/tallycmd/command_line.h"

namespace tally::tallycmd {

// Where the program's text goes: a file (standard output, standard error) or, in tests, memory.
class TextSink {
  public:
    virtual ~TextSink() = default;
    virtual void Write(std::string_view text) = 0;
};

class FileSink final : public TextSink {
  public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    void Write(std::string_view text) override;

  private:
    std::FILE* file_;
};

class StringSink final : public TextSink {
  public:
    void Write(std::string_view text) override { text_ += text; }
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

struct Console {
    TextSink& out;
    TextSink& err;
    // Standard error is a terminal: a long report shows how much of the log it has read.
    bool showProgress = false;
};

// What differs between the Windows program and the native one.
struct RunEnvironment {
    std::unique_ptr<ProfileStore> profiles;
    std::unique_ptr<PlatformFacts> platform;
    // The local date and the 24-hour time of a transaction record.
    DirectoryAccountHost::Clock clock;
    // The file a path names on this machine: server paths (\\SERVER\SYS\...) are mapped where
    // the platform cannot open them itself. nullopt when the path cannot be mapped.
    std::function<std::optional<std::string>(const std::string& path)> localPath;
    // Why `path` could not be mapped, for the message.
    std::function<std::string(const std::string& path)> unmappedReason;
};

// Makes the environment once tallynet.ini is read. False with `error` when the command line
// asks for something the platform does not offer.
using EnvironmentMaker =
    std::function<bool(const CommandLine& line, const directory::ClientConfig& config,
                       RunEnvironment& environment, std::string& error)>;

// The native environment: INI files through IniProfiles, the locale's values from the options,
// then the environment (TALLYCMD_CURRENCY_DIGITS, TALLYCMD_DATE_ORDER), else 2 and 0; the
// local settings file from --settings, else $TALLYDSK_INI, else none; $TMPDIR or /tmp/; server
// paths through [Volumes]. `clock` gives the records' moments; `warn` hears about settings
// lines that cannot be read.
bool MakeNativeEnvironment(const CommandLine& line, const directory::ClientConfig& config,
                           DirectoryAccountHost::Clock clock,
                           std::function<void(const std::string&)> warn,
                           RunEnvironment& environment, std::string& error);

// The local date and time as the native program records them: "HH:MM".
RecordMoment LocalRecordMoment();

// Runs one command line (without the program's name) and returns the exit code.
int RunTallyCmd(const std::vector<std::string>& words, Console& console,
                const EnvironmentMaker& makeEnvironment);

}  // namespace tally::tallycmd
