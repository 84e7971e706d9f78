// The print history of the MainList selection, made in the progress dialog "HistoryDialog".
#pragma once

#include <windows.h>

namespace tally::reports {

// Runs the history of SelectionText (a user, or a group when GroupSelected) over LogFilePath.
// True when the report file is written (or the dialog was closed part-way, leaving what was
// read): its path is then in gSettings.ReportFilePath for the caller to open. False on Cancel
// and on every failure, which the dialog has shown.
bool OpenHistoryDialog(HWND owner);

}  // namespace tally::reports
