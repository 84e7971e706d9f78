#include "app/preferences.h"

namespace {

// A directory client that never reports the end of its server scan must not hang the dialog.
constexpr int kMaxServersScanned = 10000;

}  // namespace

PreferencesPending PendingFromSettings(const Settings& settings) {
    return {settings.NumericalFormat, settings.LogFormat, settings.LogFilePath};
}

std::string NumericalFormatText(int numericalFormat) {
    return std::string("Numerical format: ") +
           (numericalFormat == kNumericalFormatCurrency ? "Currency" : "Pages");
}

std::string LogFormatText(int logFormat) {
    // "delimted" is how the Jobtally programs have always spelled it.
    return std::string("Log file format: ") +
           (logFormat == kLogFormatReadable ? "Readable" : "ASCII delimted");
}

std::vector<std::string> ConnectedFileServers(NetConnectionHandle logServerConnection,
                                              NetworkServices& network) {
    std::vector<std::string> servers;
    std::int32_t objectId = -1;
    std::string name;
    for (int scanned = 0; scanned < kMaxServersScanned; ++scanned) {
        if (network.ScanFileServers(logServerConnection, &objectId, &name) != 0) {
            break;
        }
        NetConnectionHandle connection = 0;
        if (network.FindConnection(name, &connection) == 0) {
            servers.push_back(name);
        }
    }
    return servers;
}

void ChooseLogServer(Settings& settings, PreferencesPending& pending, std::string_view server,
                     ProfileStore& profiles) {
    const std::string name = Truncated(server, kLogServerReadChars);
    settings.SharedSettingsPath = SharedSettingsPathFor(name);
    pending.NumericalFormat = profiles.ReadInt(settings.SharedSettingsPath, kPreferencesSection,
                                               "NumericalFormat", settings.NumericalFormat);
    pending.LogFormat = profiles.ReadInt(settings.SharedSettingsPath, kPreferencesSection,
                                         "LogFormat", settings.LogFormat);
    pending.LogFilePath = LogFilePathFor(name);
}

bool SavePreferences(Settings& settings, const PreferencesPending& pending,
                     const PreferencesChoices& choices, NetworkServices& network,
                     ProfileStore& profiles) {
    settings.NumericalFormat = pending.NumericalFormat;
    settings.LogFormat = pending.LogFormat;
    settings.LogFilePath = pending.LogFilePath;
    settings.RecordingEnabled = choices.recordingEnabled;
    settings.LogServer = Truncated(choices.logServer, kLogServerHeldChars);
    // No fall-back to the default connection here: an unconnected server is stored as chosen
    // and start-up falls back next time.
    network.FindConnection(settings.LogServer, &settings.LogServerConnection);
    settings.DblClickUser = choices.dblClickUser;
    settings.DblClickGroup = choices.dblClickGroup;
    settings.SchemaKeyword = Truncated(choices.schemaKeyword, kSchemaKeywordChars);
    settings.Schema = SelectAccountSchema(settings.SchemaKeyword);
    return WriteLocalPreferences(settings, profiles);
}
