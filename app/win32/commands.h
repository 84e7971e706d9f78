// The operator commands that MainWindow runs: How to order, the four account operations, Print
// History, Change Context and Statistics. Each opens its dialog through the dialog's opener and
// does what the command table says after it.
#pragma once

#include <windows.h>

// The commands that MainDialog's buttons hand on to MainWindow and MainWindow runs as operator
// commands: the four account operations, Print History, Change Context and Statistics.
bool IsButtonOperatorCommand(int command);

// Commands 3 (How to order), the account operations, Print History, Change Context and
// Statistics arriving at MainWindow.
void RunOperatorCommand(HWND mainWindow, int command);
