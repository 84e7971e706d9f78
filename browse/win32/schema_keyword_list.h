// The schema keywords of the User class in a drop-down list (the Preferences dialog's).
#pragma once

#include <windows.h>

// Empties `comboBox` and fills it with the User class's schema keywords; returns their number.
int ListSchemaKeywords(HWND comboBox);
