#include "app/win32/password_dialog.h"

#include <vector>

#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

constexpr int kMostPasswordChars = 256;

struct PasswordRequest {
    const char* server;
    const char* bindDn;
    std::string* password;
};

}  // namespace

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* request = reinterpret_cast<const PasswordRequest*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const std::string login = "Log in to the directory server " + std::string(request->server) +
                                  " as " + request->bindDn + ".";
        SetDlgItemTextA(dialog, IDC_PASSWORD_LOGIN, login.c_str());
        SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT, kMostPasswordChars, 0);
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    const int command = LOWORD(wParam);
    if (command == IDOK) {
        auto* request = reinterpret_cast<PasswordRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        std::vector<char> typed(kMostPasswordChars + 1, '\0');
        const UINT length =
            GetDlgItemTextA(dialog, IDC_PASSWORD, typed.data(), static_cast<int>(typed.size()));
        request->password->assign(typed.data(), length);
        SecureZeroMemory(typed.data(), typed.size());
        SetDlgItemTextA(dialog, IDC_PASSWORD, "");
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    if (command == IDCANCEL) {
        SetDlgItemTextA(dialog, IDC_PASSWORD, "");
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

bool AskDirectoryPassword(const char* server, const char* bindDn, std::string& password) {
    PasswordRequest request{server, bindDn, &password};
    return DialogBoxParamA(ProgramInstance, "DirectoryPassword", nullptr, PasswordDialogProc,
                           reinterpret_cast<LPARAM>(&request)) == IDOK;
}
