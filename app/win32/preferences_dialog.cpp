#include <string>
#include <vector>

#include "app/win32/preferences_dialog.h"

#include "app/preferences.h"
#include "browse/win32/schema_keyword_list.h"
#include "program/session.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "program/win32/platform_settings.h"
#include "resources/resource.h"

namespace {

LRESULT SendItem(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

LPARAM Text(const char* text) {
    return reinterpret_cast<LPARAM>(text);
}

void FillDoubleClickList(HWND dialog, int id, int selected) {
    for (const char* action : kDoubleClickActionNames) {
        SendItem(dialog, id, CB_ADDSTRING, 0, Text(action));
    }
    const bool known = selected >= 0 && selected < static_cast<int>(kDoubleClickActionNames.size());
    SendItem(dialog, id, CB_SETCURSEL, known ? static_cast<WPARAM>(selected) : WPARAM(-1), 0);
}

void FillServerList(HWND dialog) {
    ClientNetwork network(DirectoryContext);
    for (const std::string& server : ConnectedFileServers(gSettings.LogServerConnection, network)) {
        SendItem(dialog, IDC_LOG_SERVER, CB_ADDSTRING, 0, Text(server.c_str()));
    }
    SendItem(dialog, IDC_LOG_SERVER, CB_SELECTSTRING, WPARAM(-1),
             Text(gSettings.LogServer.c_str()));
}

void FillSchemaList(HWND dialog) {
    const HWND list = GetDlgItem(dialog, IDC_SCHEMA_KEYWORD);
    ListSchemaKeywords(list);
    SendMessageA(list, CB_INSERTSTRING, 0, Text(kStandardSchemaKeyword));
    if (SendMessageA(list, CB_SELECTSTRING, WPARAM(-1), Text(gSettings.SchemaKeyword.c_str())) ==
        CB_ERR) {
        SendMessageA(list, CB_SETCURSEL, 0, 0);
        gSettings.SchemaKeyword = kStandardSchemaKeyword;
    }
}

void ShowPendingValues(HWND dialog, const PreferencesPending& pending) {
    SetDlgItemTextA(dialog, IDC_LOG_LOCATION, pending.LogFilePath.c_str());
    SetDlgItemTextA(dialog, IDC_NUMERICAL_FORMAT,
                    NumericalFormatText(pending.NumericalFormat).c_str());
    SetDlgItemTextA(dialog, IDC_LOG_FORMAT, LogFormatText(pending.LogFormat).c_str());
}

void OnInitDialog(HWND dialog, PreferencesPending& pending) {
    CentreDialog(dialog);
    CheckDlgButton(dialog, IDC_RECORD_TRANSACTIONS,
                   gSettings.RecordingEnabled ? BST_CHECKED : BST_UNCHECKED);
    FillDoubleClickList(dialog, IDC_DBLCLICK_USER, gSettings.DblClickUser);
    FillDoubleClickList(dialog, IDC_DBLCLICK_GROUP, gSettings.DblClickGroup);
    FillServerList(dialog);
    FillSchemaList(dialog);
    pending = PendingFromSettings(gSettings);
    ShowPendingValues(dialog, pending);
}

// The text of the selected entry, however long the list made it.
std::string SelectedText(HWND dialog, int id) {
    const LRESULT index = SendItem(dialog, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) {
        return {};
    }
    const LRESULT length = SendItem(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) {
        return {};
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    SendItem(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index), Text(text.data()));
    text.back() = '\0';
    return text.data();
}

void OnServerChosen(HWND dialog, PreferencesPending& pending) {
    PrivateProfiles profiles;
    ChooseLogServer(gSettings, pending, SelectedText(dialog, IDC_LOG_SERVER), profiles);
    ShowPendingValues(dialog, pending);
}

int SelectedIndex(HWND dialog, int id) {
    const LRESULT index = SendItem(dialog, id, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void OnSave(HWND dialog, const PreferencesPending& pending) {
    PreferencesChoices choices;
    choices.recordingEnabled = IsDlgButtonChecked(dialog, IDC_RECORD_TRANSACTIONS) == BST_CHECKED;
    choices.logServer = Truncated(SelectedText(dialog, IDC_LOG_SERVER), kLogServerHeldChars);
    choices.dblClickUser = SelectedIndex(dialog, IDC_DBLCLICK_USER);
    choices.dblClickGroup = SelectedIndex(dialog, IDC_DBLCLICK_GROUP);
    choices.schemaKeyword =
        Truncated(SelectedText(dialog, IDC_SCHEMA_KEYWORD), kSchemaKeywordChars);
    ClientNetwork network(DirectoryContext);
    PrivateProfiles profiles;
    SavePreferences(gSettings, pending, choices, network, profiles);
    EndDialog(dialog, 1);
}

}  // namespace

INT_PTR CALLBACK PreferencesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    PreferencesPending* pending = DialogStateOf<PreferencesPending>(dialog, message, lParam);
    if (EndedByCancelOrClose(dialog, message, wParam)) {
        return TRUE;
    }
    if (pending == nullptr) {
        return FALSE;
    }
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog, *pending);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_LOG_SERVER:
                    if (HIWORD(wParam) == CBN_SELCHANGE) {
                        OnServerChosen(dialog, *pending);
                    }
                    return TRUE;
                case IDOK:
                    OnSave(dialog, *pending);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

bool OpenPreferencesDialog(HWND owner) {
    // The values a server choice changes are held back in the dialog's own state until Save.
    PreferencesPending pending;
    return DialogBoxParamA(ProgramInstance, "Preferences", owner, PreferencesDialogProc,
                           reinterpret_cast<LPARAM>(&pending)) == 1;
}
