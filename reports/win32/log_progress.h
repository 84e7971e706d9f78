// Reading the log inside the progress dialog: lines are read in slices of a few milliseconds,
// and between two slices the messages that wait (Cancel, a repaint) are answered first. The
// dialog posts itself its continue command to come back to the reading, so everything stays on
// the program's one thread.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "reports/log_reader.h"

namespace tally::reports {

// Shows the reading's progress in the dialog's status text and bar when the shown value changes.
void ShowReadingProgress(HWND dialog, const char* statusPrefix, int shown);

// Reads lines and hands each to `take`, then lets `progress` (HistoryProgress or
// StatisticsProgress) see the percentage read. Returns true at the end of the log; false when a
// message waits, after posting `continueCommand` to the dialog so that reading resumes with the
// next line once the message has been answered.
template <typename Take, typename Progress>
bool ReadLogSlice(HWND dialog, LogReader& reader, Take&& take, Progress& progress,
                  const char* statusPrefix, int continueCommand) {
    // Looking for waiting messages costs a round trip to the window system, so it is done once a
    // slice of this length has passed, often enough to answer Cancel and repaints at once.
    constexpr DWORD kSliceMilliseconds = 30;
    constexpr unsigned kLinesBetweenClockChecks = 512;
    DWORD sliceStart = GetTickCount();
    unsigned lines = 0;
    std::string_view line;
    while (reader.NextLine(line)) {
        take(line);
        if (progress.Update(reader.PercentRead())) {
            ShowReadingProgress(dialog, statusPrefix, progress.Shown());
        }
        if (++lines % kLinesBetweenClockChecks != 0 ||
            GetTickCount() - sliceStart < kSliceMilliseconds) {
            continue;
        }
        MSG waiting;
        if (PeekMessageA(&waiting, nullptr, 0, 0, PM_NOREMOVE)) {
            PostMessageA(dialog, WM_COMMAND, continueCommand, 0);
            return false;
        }
        sliceStart = GetTickCount();
    }
    return true;
}

}  // namespace tally::reports
