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
#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/list_box_text.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

constexpr std::size_t kAmountFieldChars = 255;

// The real changes, with the prompt line following the batch and log failures shown at once.
class DialogAccountHost final : public DirectoryAccountHost {
  public:
    explicit DialogAccountHost(HWND dialog)
        : DirectoryAccountHost(CurrentRecordMoment), dialog_(dialog) {}
    void Announce(const std::string& name) override {
        SetDlgItemTextA(dialog_, IDC_AMOUNT_PROMPT, name.c_str());
    }
    void ReportLogFailure(const LogAppendResult& result, bool nothingChanged) override {
        ShowLogFailure(dialog_, result, nothingChanged);
    }
    void ReportRecovery(const std::string& message) override { ShowError(dialog_, message); }

  private:
    HWND dialog_;
};

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

void ApplyToMultipleSelection(HWND dialog, DialogAccountHost& host) {
    std::vector<std::string> entries;
    try {
        entries = SelectedListBoxTexts(MainList);
    } catch (const std::bad_alloc&) {
        ShowError(dialog, "Error allocating RAM for operation");
        return;
    }
    const std::string problems = BatchProblemMessage(ApplyToEntries(entries, host));
    if (!problems.empty()) {
        ShowError(dialog, problems);
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
        ShowError(dialog, problems);
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
            if (!outcome.failed.empty()) {
                ShowError(dialog, AccountingErrorMessage(outcome.failed.front().status));
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
    OperationAmount = reading.units;
    if (operation == AccountOperation::Charge) {
        gSettings.ChargeReason =
            ChargeReasonFromField(FieldText(dialog, IDC_CHARGE_REASON, kChargeReasonChars));
    }
    const bool unlimitedChecked = operation == AccountOperation::SetLimit &&
                                  IsDlgButtonChecked(dialog, IDC_ALLOW_UNLIMITED) == BST_CHECKED;
    const EntryPlan plan = PlanAccountOperation(operation, rawText, reading, unlimitedChecked);
    if (plan.action == EntryAction::Refuse) {
        ShowError(dialog, AmountOutOfRangeMessage(rawText, mode));
        return;
    }
    if (plan.action == EntryAction::NothingToDo) {
        return;
    }
    OperationAmount = plan.operationAmount;
    if (plan.unlimited == UnlimitedChange::Set) {
        AccountValues.Unlimited = 1;
    } else if (plan.unlimited == UnlimitedChange::Clear) {
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

bool OpenAmountDialog(HWND owner, const char* templateName) {
    if (SelectedCount == 0) {
        return false;
    }
    DialogBoxParamA(ProgramInstance, templateName, owner, AmountDialogProc, 0);
    return true;
}
