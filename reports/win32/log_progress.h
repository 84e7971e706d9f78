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

namespace tally::reports {

// Shows the reading's progress in the dialog's status text and bar.
void ShowReadingProgress(HWND dialog, const char* statusPrefix, int shown);

// Handles the input, repaints and sent messages that wait, for the dialog and every other window
// of the program. True when posted messages wait as well.
bool AnswerWaitingMessages(HWND dialog);

// Runs one slice of a report run (HistoryRun or StatisticsRun): lines are read until about 25 ms
// have passed, whatever a line costs (a group's line may cost a directory compare), then the
// progress is shown and whatever waits is answered. True at the end of the log. False otherwise:
// then either the continue command was posted behind other waiting messages, or `running()`
// answers false because Cancel or the close box ended the run meanwhile.
template <typename ReportRun, typename Running>
bool ReadLogSlice(HWND dialog, ReportRun& run, const char* statusPrefix, int continueCommand,
                  Running&& running) {
    constexpr DWORD kSliceMilliseconds = 25;
    for (;;) {
        const DWORD sliceStart = GetTickCount();
        const int shownBefore = run.Progress();
        const bool atEnd = run.ReadSlice(
            [sliceStart] { return GetTickCount() - sliceStart >= kSliceMilliseconds; });
        if (run.Progress() != shownBefore) {
            ShowReadingProgress(dialog, statusPrefix, run.Progress());
        }
        if (atEnd) {
            return true;
        }
        const bool postedWaiting = AnswerWaitingMessages(dialog);
        if (!running()) {
            return false;
        }
        if (postedWaiting) {
            PostMessageA(dialog, WM_COMMAND, continueCommand, 0);
            return false;
        }
    }
}

}  // namespace tally::reports
