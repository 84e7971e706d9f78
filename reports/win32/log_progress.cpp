#include "reports/win32/log_progress.h"

#include <commctrl.h>

#include "resources/resource.h"

namespace tally::reports {

void ShowReadingProgress(HWND dialog, const char* statusPrefix, int shown) {
    const std::string status = std::string(statusPrefix) + std::to_string(shown) + "%";
    SetDlgItemTextA(dialog, IDC_REPORT_STATUS, status.c_str());
    SendDlgItemMessageA(dialog, IDC_REPORT_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
}

bool AnswerWaitingMessages(HWND dialog) {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0,
                        PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return HIWORD(GetQueueStatus(QS_POSTMESSAGE)) != 0;
}

}  // namespace tally::reports
