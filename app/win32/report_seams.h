// Where the main window hands over to the reports: the print history of the selection and the
// Printing Statistics dialog. Both arrive with the reports; until then they open nothing and end
// with 0, so the main window opens no report file.
#pragma once

#include <windows.h>

// The modal "HistoryDialog" over the MainList selection, owned by MainWindow. Ends with nonzero
// after writing the report whose path it leaves in gSettings.ReportFilePath.
INT_PTR OpenHistoryDialog(HWND owner);

// The modal "Stats" dialog, which opens its own reports.
INT_PTR OpenStatsDialog(HWND owner);
