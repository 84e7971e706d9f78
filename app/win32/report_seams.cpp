#include "app/win32/report_seams.h"

#include "reports/win32/history_dialog.h"
#include "reports/win32/statistics_dialog.h"

INT_PTR OpenHistoryDialog(HWND owner) {
    return tally::reports::OpenHistoryDialog(owner) ? 1 : 0;
}

INT_PTR OpenStatsDialog(HWND owner) {
    tally::reports::OpenStatisticsDialog(owner);
    return 1;
}
