// The selection display of the main dialog.
#pragma once

// Takes the MainList selection and shows it in the three information lines, then brings the
// Print History command in step with it.
void ShowSelection();

// Print History (menu item and button) is available for one user or one group only.
void UpdateSelectionCommands();
