// What the Preferences dialog does, apart from its controls: the texts it shows, the servers it
// offers, the values it keeps pending while it is open and what Save changes and writes.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "program/settings.h"

// Index i of the double-click lists stands for the account command CMD_DEPOSIT + i.
inline constexpr std::array<const char*, 4> kDoubleClickActionNames = {
    "Deposit", "Set Balance", "Charge", "Set Credit Limit"};

// Values a server choice changes, held back until Save.
struct PreferencesPending {
    int NumericalFormat = kDefaultNumericalFormat;
    int LogFormat = kDefaultLogFormat;
    std::string LogFilePath;
};

// What the controls hold when Save is pressed.
struct PreferencesChoices {
    bool recordingEnabled = true;
    std::string logServer;  // empty when no server is selected
    int dblClickUser = -1;  // -1 when the list has no selection
    int dblClickGroup = -1;
    std::string schemaKeyword;
};

PreferencesPending PendingFromSettings(const Settings& settings);

std::string NumericalFormatText(int numericalFormat);  // "Numerical format: Pages"
std::string LogFormatText(int logFormat);              // "Log file format: Readable"

// The file servers that the log server knows and the workstation is connected to, in the
// order the scan returns them.
std::vector<std::string> ConnectedFileServers(NetConnectionHandle logServerConnection,
                                              NetworkServices& network);

// Another server was chosen: its shared file gives the pending formats (the formats in force
// where it has none) and its log becomes the pending log path.
void ChooseLogServer(Settings& settings, PreferencesPending& pending, std::string_view server,
                     ProfileStore& profiles);

// Save: takes the pending and chosen values into the settings and writes the local file.
// Returns false when the local file could not be written (the values in memory are set anyway).
bool SavePreferences(Settings& settings, const PreferencesPending& pending,
                     const PreferencesChoices& choices, NetworkServices& network,
                     ProfileStore& profiles);
