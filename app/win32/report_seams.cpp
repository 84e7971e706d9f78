#include "app/win32/report_seams.h"

// TODO(reports): the print history's progress dialog.
INT_PTR OpenHistoryDialog(HWND) {
    return 0;
}

// TODO(reports): the Printing Statistics dialog.
INT_PTR OpenStatsDialog(HWND) {
    return 0;
}
