// The amount dialog: a thin shell over the account core. The dialog takes the operator's entry,
// asks the core what it means, and hands the selection to the core's batch functions; every
// rule lives there.
#include "accounting/win32/amount_dialog.h"

#include <new>
#include <string>
#include <vector>

#include "accounting/account_changes.h"
#include "accounting/amount_entry.h"
#include "accounting/win32/transaction_log.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/win32/command_seams.h"
#include "app/win32/dialogs.h"
#include "app/win32/shell_state.h"
#include "directory/account_attributes.h"
#include "directory/selection.h"
#include "resources/resource.h"

namespace {

constexpr std::size_t kAmountFieldChars = 255;
constexpr const char* kErrorCaption = "Error";

// The real changes, with the prompt line following the batch and log failures shown at once.
class DialogAccountHost final : public DirectoryAccountHost {
  public:
    explicit DialogAccountHost(HWND dialog)
        : DirectoryAccountHost(CurrentRecordMoment), dialog_(dialog) {}
    void announce(const std::string& name) override {
        SetDlgItemTextA(dialog_, IDC_AMOUNT_PROMPT, name.c_str());
    }
    void reportLogFailure(const LogAppendResult& result, bool nothingChanged) override {
        ShowLogFailure(dialog_, result, nothingChanged);
    }

  private:
    HWND dialog_;
};

void Warn(HWND dialog, const std::string& text) {
    MessageBoxA(dialog, text.c_str(), kErrorCaption, MB_OK | MB_ICONWARNING);
}

std::string FieldText(HWND dialog, int control, std::size_t maxChars) {
    std::string text(maxChars + 1, '\0');
    const UINT length =
        GetDlgItemTextA(dialog, control, text.data(), static_cast<int>(text.size()));
    text.resize(length);
    return text;
}

void InitialiseDialog(HWND dialog) {
    CentreDialog(dialog);
    const AccountOperation operation = CurrentOperation;
    if (operation == AccountOperation::SetLimit && SelectedCount == 1 && !GroupSelected &&
        AccountValues.Unlimited == 1) {
        CheckDlgButton(dialog, IDC_ALLOW_UNLIMITED, BST_CHECKED);
    }
    SetWindowTextA(dialog, AmountDialogTitle(operation, SelectedCount, SelectionText).c_str());
    const PromptValues values{AccountValues.Balance, AccountValues.CreditLimit,
                              AccountValues.Unlimited != 0};
    SetDlgItemTextA(dialog, IDC_AMOUNT_PROMPT,
                    AmountPromptLine(operation, SelectedCount, GroupSelected, SelectionText, values,
                                     CurrentAmountMode())
                        .c_str());
    if (operation == AccountOperation::Deposit) {
        SetDlgItemTextA(dialog, IDC_AMOUNT_LABEL, "Enter deposit amount:");
    } else if (operation == AccountOperation::SetBalance) {
        SetDlgItemTextA(dialog, IDC_AMOUNT_LABEL, "Enter new balance:");
    } else if (operation == AccountOperation::Charge) {
        SetDlgItemTextA(dialog, IDC_CHARGE_REASON, gSettings.ChargeReason.c_str());
    }
}

// The entries selected in MainList, in list order.
std::vector<std::string> SelectedEntries() {
    std::vector<int> positions(static_cast<std::size_t>(SelectedCount), 0);
    const LRESULT found = SendMessageA(MainList, LB_GETSELITEMS, positions.size(),
                                       reinterpret_cast<LPARAM>(positions.data()));
    positions.resize(found > 0 ? static_cast<std::size_t>(found) : 0);
    std::vector<std::string> entries;
    entries.reserve(positions.size());
    for (int position : positions) {
        const LRESULT length = SendMessageA(MainList, LB_GETTEXTLEN, position, 0);
        if (length == LB_ERR) {
            continue;
        }
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        const LRESULT copied =
            SendMessageA(MainList, LB_GETTEXT, position, reinterpret_cast<LPARAM>(text.data()));
        text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
        entries.push_back(std::move(text));
    }
    return entries;
}

void ApplyToMultipleSelection(HWND dialog, DialogAccountHost& host) {
    std::vector<std::string> entries;
    try {
        entries = SelectedEntries();
    } catch (const std::bad_alloc&) {
        Warn(dialog, "Error allocating RAM for operation");
        return;
    }
    const std::string problems = BatchProblemMessage(ApplyToEntries(entries, host));
    if (!problems.empty()) {
        Warn(dialog, problems);
    }
}

void ApplyToWholeGroup(HWND dialog, SelectionKind kind, DialogAccountHost& host) {
    const std::string question = GroupQuestion(CurrentOperation, SelectionText);
    if (MessageBoxA(dialog, question.c_str(), "Are you sure?", MB_OKCANCEL) != IDOK) {
        return;
    }
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const BatchOutcome outcome =
        kind == SelectionKind::AllUsers
            ? ApplyToContextUsers(DirectoryContext, host)
            : ApplyToGroupMembers(DirectoryContext, SelectionText, CurrentContextName, host);
    SetCursor(previous);
    const std::string problems = BatchProblemMessage(outcome);
    if (!problems.empty()) {
        Warn(dialog, problems);
    }
}

void ApplyToSelection(HWND dialog) {
    DialogAccountHost host(dialog);
    const SelectionKind kind = ClassifySelection(SelectedCount, GroupSelected, SelectionText);
    switch (kind) {
        case SelectionKind::MultipleSelection:
            ApplyToMultipleSelection(dialog, host);
            break;
        case SelectionKind::OneUser: {
            const BatchOutcome outcome = ApplyToOneUser(SelectionText, host);
            if (!outcome.Failed.empty()) {
                Warn(dialog, AccountingErrorMessage(outcome.Failed.front().Status));
            }
            break;
        }
        case SelectionKind::Group:
        case SelectionKind::AllUsers:
            ApplyToWholeGroup(dialog, kind, host);
            break;
    }
}

void TakeEntryAndApply(HWND dialog) {
    const AccountOperation operation = CurrentOperation;
    const std::string rawText = FieldText(dialog, IDC_AMOUNT, kAmountFieldChars);
    const AmountMode mode = CurrentAmountMode();
    const AmountReading reading = ReadAmount(rawText, mode);
    OperationAmount = reading.Units;
    if (operation == AccountOperation::Charge) {
        gSettings.ChargeReason =
            ChargeReasonFromField(FieldText(dialog, IDC_CHARGE_REASON, kChargeReasonChars));
    }
    const bool unlimitedChecked = operation == AccountOperation::SetLimit &&
                                  IsDlgButtonChecked(dialog, IDC_ALLOW_UNLIMITED) == BST_CHECKED;
    const EntryPlan plan = PlanAccountOperation(operation, rawText, reading, unlimitedChecked);
    if (plan.Action == EntryAction::Refuse) {
        Warn(dialog, AmountOutOfRangeMessage(rawText, mode));
        return;
    }
    if (plan.Action == EntryAction::NothingToDo) {
        return;
    }
    OperationAmount = plan.OperationAmount;
    if (plan.Unlimited == UnlimitedChange::Set) {
        AccountValues.Unlimited = 1;
    } else if (plan.Unlimited == UnlimitedChange::Clear) {
        AccountValues.Unlimited = 0;
    }
    ApplyToSelection(dialog);
}

INT_PTR CALLBACK AmountDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitialiseDialog(dialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    TakeEntryAndApply(dialog);
                    EndDialog(dialog, 0);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, 0);
                    return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
    }
    return FALSE;
}

}  // namespace

void OpenAmountDialog(const char* templateName) {
    if (SelectedCount == 0) {
        return;
    }
    DialogBoxParamA(ProgramInstance, templateName, GetActiveWindow(), AmountDialogProc, 0);
    RefreshSelection();
}
