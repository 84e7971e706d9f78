// Reading the entries of a list box, MainList above all, whose texts are what the program's
// parts tell users, groups and the all-users entry apart by.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The text of one entry ("" when there is no such entry).
std::string ListBoxText(HWND list, int index);

// Every entry, in the list's order.
std::vector<std::string> ListBoxTexts(HWND list);

// The selected entries of a list box that takes several selections, in the list's order.
std::vector<std::string> SelectedListBoxTexts(HWND list);
