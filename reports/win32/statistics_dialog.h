// The Printing Statistics dialog ("Stats"): totals by user, print server, printer, queue,
// client code or a group's members from a log the operator picks, and the balances of every
// user of the context.
#pragma once

#include <windows.h>

namespace tally::reports {

// Stays open for as many reports as the operator makes; each is opened with the shell.
void OpenStatisticsDialog(HWND owner);

}  // namespace tally::reports
