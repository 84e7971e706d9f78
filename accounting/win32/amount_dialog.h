// The amount dialog of the four account operations.
#pragma once

#include <windows.h>

// Runs the amount dialog for CurrentOperation on `templateName` ("DepositDialog", "ChargeDialog"
// or "LimitDialog") over the current MainList selection, then shows the selection again. Does
// nothing when nothing is selected.
void OpenAmountDialog(const char* templateName);
