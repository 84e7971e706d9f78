// Reading the log inside the progress dialog, on the program's one thread: lines are read in
// slices of a few milliseconds, and between two slices whatever waits for the program is
// answered: the operator's input (Cancel, Escape, the close box) and repaints are handled at
// once, other posted messages first by posting the continue command behind them. A posted
// command alone would not do: the window system hands out posted messages before input and
// repaints, so a dialog that only ever re-posted itself would neither paint nor hear Cancel.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "reports/log_reader.h"

namespace tally::reports {

// Shows the reading's progress in the dialog's status text and bar.
void ShowReadingProgress(HWND dialog, const char* statusPrefix, int shown);

// Handles the input, repaints and sent messages that wait, for the dialog and every other window
// of the program. True when posted messages wait as well.
bool AnswerWaitingMessages(HWND dialog);

enum class SliceEnd {
    EndOfLog,  // every line was read
    Yielded,   // the continue command was posted behind waiting messages
    Stopped,   // something answered meanwhile ended the run (Cancel, the close box)
};

// Reads lines and hands each to `take`, then lets `progress` (HistoryProgress or
// StatisticsProgress) see the percentage read. `running()` tells whether the run still goes on
// after waiting messages were answered.
template <typename Take, typename Progress, typename Running>
SliceEnd ReadLogSlice(HWND dialog, LogReader& reader, Take&& take, Progress& progress,
                      const char* statusPrefix, int continueCommand, Running&& running) {
    // Asking for waiting messages costs a round trip to the window system, so it is done once a
    // slice of this length has passed, often enough to answer Cancel and repaints at once.
    constexpr DWORD kSliceMilliseconds = 25;
    constexpr unsigned kLinesBetweenClockChecks = 256;
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
        const bool postedWaiting = AnswerWaitingMessages(dialog);
        if (!running()) {
            return SliceEnd::Stopped;
        }
        if (postedWaiting) {
            PostMessageA(dialog, WM_COMMAND, continueCommand, 0);
            return SliceEnd::Yielded;
        }
        sliceStart = GetTickCount();
    }
    return SliceEnd::EndOfLog;
}

}  // namespace tally::reports
