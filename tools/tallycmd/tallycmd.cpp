#include "tools/tallycmd/tallycmd.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "tools/tallycmd/account_commands.h"
#include "tools/tallycmd/command_support.h"
#include "tools/tallycmd/native_settings.h"
#include "tools/tallycmd/report_commands.h"

namespace tally::tallycmd {
namespace {

constexpr const char* kDefaultCurrencyDigits = "2";
constexpr const char* kDefaultDateOrder = "0";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// The option's value, else the environment variable's, else `fallback`; `source` names where
// the value came from, for a message.
std::string Chosen(const std::optional<std::string>& option, const char* optionName,
                   const char* variable, const char* fallback, std::string& source) {
    if (option) {
        source = optionName;
        return *option;
    }
    std::string value = Environment(variable);
    if (!value.empty()) {
        source = std::string("$") + variable;
        return value;
    }
    source.clear();
    return fallback;
}

bool IsNumberUpTo(const std::string& text, int largest) {
    if (text.empty() || text.size() > 2) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return std::atoi(text.c_str()) <= largest;
}

// The directory context of the run, freed at its end.
class RunContext {
  public:
    RunContext() { OpenDirectoryContext(); }
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;
    ~RunContext() {
        DirFreeContext(DirectoryContext);
        DirectoryContext = 0;
    }
};

int Dispatch(const Run& run) {
    switch (run.line.command) {
        case Command::Deposit:
        case Command::Charge:
        case Command::SetBalance:
        case Command::SetLimit:
            return RunAccountCommand(run);
        case Command::Show:
            return RunShow(run);
        case Command::History:
            return RunHistory(run);
        case Command::Stats:
            return RunStats(run);
        case Command::Balances:
            return RunBalances(run);
        case Command::Trend:
            return RunTrend(run);
        case Command::Audit:
            return RunAudit(run);
        case Command::None:
            break;
    }
    return kExitBadInput;
}

bool ChangesAccounts(const CommandLine& line) {
    switch (line.command) {
        case Command::Deposit:
        case Command::Charge:
        case Command::SetBalance:
        case Command::SetLimit:
            return !line.dryRun;
        default:
            return false;
    }
}

}  // namespace

void FileSink::Write(std::string_view text) {
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), file_);
    }
}

RecordMoment LocalRecordMoment() {
    // A batch asks for the moment twice a change; the clock's second changes far less often.
    static std::time_t last = -1;
    static RecordMoment lastMoment;
    const std::time_t now = std::time(nullptr);
    if (now == last) {
        return lastMoment;
    }
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char time[8] = {};
    std::strftime(time, sizeof time, "%H:%M", &local);
    lastMoment = {{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, time};
    last = now;
    return lastMoment;
}

bool MakeNativeEnvironment(const CommandLine& line, const directory::ClientConfig& config,
                           DirectoryAccountHost::Clock clock,
                           std::function<void(const std::string&)> warn,
                           RunEnvironment& environment, std::string& error) {
    std::string source;
    const std::string digits = Chosen(line.currencyDigits, "--currency-digits",
                                      "TALLYCMD_CURRENCY_DIGITS", kDefaultCurrencyDigits, source);
    if (!IsNumberUpTo(digits, 9)) {
        error = source + " " + digits + ": the currency digits are a whole number from 0 to 9";
        return false;
    }
    const std::string order =
        Chosen(line.dateOrder, "--date-order", "TALLYCMD_DATE_ORDER", kDefaultDateOrder, source);
    if (!IsNumberUpTo(order, 2)) {
        error = source + " " + order + ": the date order is 0 (M/D/Y), 1 (D/M/Y) or 2 (Y/M/D)";
        return false;
    }
    const VolumeMap volumes(config.volumes.begin(), config.volumes.end());
    std::string localFile = Chosen(line.settingsFile, "--settings", "TALLYDSK_INI", "", source);
    if (!localFile.empty()) {
        const std::optional<std::string> mapped = MapServerPath(localFile, volumes);
        if (!mapped || !std::ifstream(*mapped)) {
            error = source + " " + localFile + ": the settings file cannot be read";
            return false;
        }
        localFile = *mapped;
    }
    std::string temp = Environment("TMPDIR");
    if (temp.empty()) {
        temp = "/tmp";
    }
    if (temp.back() != '/') {
        temp += '/';
    }
    environment.profiles = std::make_unique<IniProfiles>(localFile, volumes, std::move(warn));
    // The records waiting for the log are kept beside the settings file.
    const std::string settingsFolder =
        localFile.empty() ? std::string() : std::filesystem::path(localFile).parent_path().string();
    environment.platform =
        std::make_unique<FixedPlatformFacts>(digits, order, temp, settingsFolder);
    environment.clock = std::move(clock);
    environment.localPath = [volumes](const std::string& path) {
        return MapServerPath(path, volumes);
    };
    const std::string ini = config.iniFile.string();
    environment.unmappedReason = [ini](const std::string& path) {
        const std::string server = path.substr(2, path.find_first_of("\\/", 2) - 2);
        return path + ": " + ini + " has no [Volumes] entry for the server " + server +
               ", so its files cannot be found on this machine";
    };
    return true;
}

int RunTallyCmd(const std::vector<std::string>& words, Console& console,
                const EnvironmentMaker& makeEnvironment) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(words, line, error)) {
        console.err.Write("tallycmd: " + error + "\n" + UsageText(line.command));
        return kExitBadInput;
    }
    if (line.help) {
        console.out.Write(HelpText(line.command));
        return kExitDone;
    }
    if (line.version) {
        console.out.Write(VersionText());
        return kExitDone;
    }
    const std::string ini = line.iniFile ? *line.iniFile : directory::DefaultConfigPath().string();
    DirClientLoadConfig(ini.c_str());
    NetInitLibrary(nullptr, nullptr);
    if (DirIsLoggedIn() == 0) {
        console.err.Write("tallycmd: " + NotLoggedInMessage(DirClientLastProblem()) +
                          "\n(tallynet.ini: " + ini + ")\n");
        // A server that is not there or whose certificate is refused is a failure of the run,
        // as a log that cannot be reached is; the command line and the file may be right.
        return DirClientServerUnreachable() ? kExitSomeFailed : kExitBadInput;
    }
    RunEnvironment environment;
    if (!makeEnvironment(line, DirClientConfig(), environment, error)) {
        console.err.Write("tallycmd: " + error + "\n");
        return kExitBadInput;
    }
    RunContext context;
    gSettings = Settings{};
    ClientNetwork network(DirectoryContext);
    LoadSettings(gSettings, *environment.profiles, *environment.platform, network);
    const Run run{line, environment, console};
    if (environment.localPath) {
        // Where the platform cannot open server paths, the log is the file they map to; a log
        // that cannot be mapped stays as it is and is reported where it is needed.
        const std::optional<std::string> log = environment.localPath(gSettings.LogFilePath);
        if (log) {
            gSettings.LogFilePath = *log;
        } else if (ChangesAccounts(line) && gSettings.RecordingEnabled) {
            run.LocalPath(gSettings.LogFilePath);
            run.Error("nothing was changed");
            return kExitBadInput;
        }
    }
    if (ChangesAccounts(line)) {
        // Records that an earlier run left waiting go to the log before any new change.
        const OutboxRecovery recovery = DeliverWaitingRecords();
        const std::string told = OutboxRecoveryMessage(recovery);
        if (!told.empty()) {
            run.Error(told);
        }
        if (recovery.waiting > 0) {
            run.Error("nothing was changed");
            return kExitSomeFailed;
        }
    }
    if (line.startContext) {
        if (const std::string problem = EnterContext(*line.startContext); !problem.empty()) {
            run.Error("--in " + *line.startContext + ": " + problem);
            return kExitBadInput;
        }
    }
    return Dispatch(run);
}

}  // namespace tally::tallycmd
