// The amount dialogs of the four account operations ("DepositDialog", also for Set Balance;
// "ChargeDialog"; "LimitDialog"): the operator's amount for CurrentOperation, applied to the
// MainList selection and recorded.
#pragma once

#include <windows.h>

// Runs the dialog of `templateName` over the selection (SelectedCount, SelectionText,
// GroupSelected) for CurrentOperation, owned by `owner`. Opens nothing and returns false when
// nothing is selected; true when the dialog ran (whatever the operator did in it), so that the
// caller shows the selection anew.
bool OpenAmountDialog(HWND owner, const char* templateName);
