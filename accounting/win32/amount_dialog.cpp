// Placeholder until the account operations arrive: the commands are wired, nothing pretends to
// work.
#include "accounting/win32/amount_dialog.h"

void OpenAmountDialog(const char*) {}
