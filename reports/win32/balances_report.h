// The balances of every user listed in MainList, written at once with the wait cursor shown.
#pragma once

#include <windows.h>

namespace tally::reports {

void WriteBalancesReport(HWND owner);

}  // namespace tally::reports
