#include "app/win32/password_dialog.h"

#include <algorithm>
#include <string>

#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

constexpr int kMostPasswordChars = 256;

struct PasswordRequest {
    const char* server;
    const char* bindDn;
    const char* refusal;
    char* password;
    std::size_t capacity;
};

}  // namespace

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* request = reinterpret_cast<const PasswordRequest*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const std::string login = "Log in to the directory server " + std::string(request->server) +
                                  " as " + request->bindDn + ".";
        SetDlgItemTextA(dialog, IDC_PASSWORD_LOGIN, login.c_str());
        SetDlgItemTextA(dialog, IDC_PASSWORD_REFUSAL, request->refusal);
        SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT,
                            std::min<std::size_t>(kMostPasswordChars, request->capacity), 0);
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    const int command = LOWORD(wParam);
    if (command == IDOK) {
        auto* request = reinterpret_cast<PasswordRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        // Straight into the caller's buffer, the one the bind uses and then wipes.
        GetDlgItemTextA(dialog, IDC_PASSWORD, request->password,
                        static_cast<int>(request->capacity + 1));
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

bool AskDirectoryPassword(const char* server, const char* bindDn, const char* refusal,
                          char* password, std::size_t capacity) {
    PasswordRequest request{server, bindDn, refusal != nullptr ? refusal : "", password, capacity};
    return DialogBoxParamA(ProgramInstance, "DirectoryPassword", nullptr, PasswordDialogProc,
                           reinterpret_cast<LPARAM>(&request)) == IDOK;
}
