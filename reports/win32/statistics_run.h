// One statistics run in the progress dialog "HistoryDialog": the group's members first in group
// mode, then the log, then the report file, opened with the shell.
#pragma once

#include <windows.h>

#include <string>

#include "reports/print_statistics.h"

namespace tally::reports {

struct StatisticsChoice {
    StatisticsCategory category;
    bool groupMode = false;  // the group's entry text, marker included, is in SelectionText
    std::string logPath;
};

void RunStatistics(HWND owner, const StatisticsChoice& choice);

}  // namespace tally::reports
