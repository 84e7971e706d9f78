// The reports: history, stats and balances, written by the same core classes as the window's
// dialogs, to the same files or to a named file or standard output, as text or as CSV.
#pragma once

#include "tools/tallycmd/command_support.h"

namespace tally::tallycmd {

int RunHistory(const Run& run);
int RunStats(const Run& run);
int RunBalances(const Run& run);
int RunTrend(const Run& run);
// The audit of balances against the log: exit 0 when every balance agrees, 1 when any differs.
int RunAudit(const Run& run);

}  // namespace tally::tallycmd
