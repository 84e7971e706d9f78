// The directory password dialog typed into as an operator types: what was typed reaches the
// caller's buffer, and once the dialog has closed no copy of it is left in the process's memory,
// in the program's bytes or in the edit control's own (UTF-16) buffer, refused or not.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "app/win32/password_dialog.h"
#include "ldapstore/secret_buffer.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"
#include "tests/core/directory/memory_scan.h"

namespace {

constexpr int kTypedChars = 19;

// The password typed: made one character at a time, never held whole by the test.
char TypedChar(int at) {
    return static_cast<char>('k' + (at * 7 + 3) % 15);
}

// The password as the edit control holds it, UTF-16.
std::vector<char> Wide() {
    std::vector<char> wide(2 * kTypedChars);
    for (int at = 0; at < kTypedChars; ++at) {
        wide[2 * static_cast<std::size_t>(at)] = TypedChar(at);
    }
    return wide;
}

// Types the password into the dialog once it is up, then presses OK (or Cancel). While the
// dialog is up the scan must find the control's copy: it is not blind to it.
bool pressOk = true;
int seenWhileOpen = 0;
void CALLBACK TypeAndPress(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA(nullptr, "Directory Server Login");
    if (dialog == nullptr) {
        return;
    }
    KillTimer(nullptr, timer);
    HWND field = GetDlgItem(dialog, IDC_PASSWORD);
    for (int at = 0; at < kTypedChars; ++at) {
        SendMessageA(field, WM_CHAR, static_cast<WPARAM>(TypedChar(at)), 0);
    }
    if (tally::testing::kMemoryScanPossible) {
        std::vector<char> wide = Wide();
        seenWhileOpen =
            tally::testing::MemoryScan(std::string_view(wide.data(), wide.size())).Count();
        tally::ldap::WipeBytes(wide.data(), wide.size());
    }
    PostMessageA(dialog, WM_COMMAND, pressOk ? IDOK : IDCANCEL, 0);
}

TEST(PasswordDialog, WhatWasTypedReachesTheCallerAndIsLeftNowhereElse) {
    ProgramInstance = GetModuleHandleA(nullptr);
    for (const bool ok : {true, false}) {
        pressOk = ok;
        tally::ldap::SecretBuffer typed;
        SetTimer(nullptr, 0, 50, TypeAndPress);
        const bool given =
            AskDirectoryPassword("ldap://ldap.uni.example", "uid=ops1",
                                 ok ? "" : "Invalid credentials", typed.Data(), typed.Capacity());
        EXPECT_EQ(given, ok);
        typed.SetSize(std::strlen(typed.Data()));
        tally::ldap::SecretBuffer made;
        for (int at = 0; at < kTypedChars; ++at) {
            made.Data()[at] = TypedChar(at);
        }
        made.SetSize(kTypedChars);
        std::vector<char> wide = Wide();
        if (ok) {
            EXPECT_EQ(typed.View(), made.View());
        }
        if (!tally::testing::kMemoryScanPossible) {
            continue;
        }
        EXPECT_GE(seenWhileOpen, 1) << "the scan does not see the edit control's text";
        typed.Wipe();
        EXPECT_EQ(tally::testing::MemoryScan(made.View()).Count(), 0) << "OK " << ok;
        EXPECT_EQ(tally::testing::MemoryScan(std::string_view(wide.data(), wide.size())).Count(), 0)
            << "as UTF-16, OK " << ok;
        tally::ldap::WipeBytes(wide.data(), wide.size());
    }
}

}  // namespace
