#include "app/session.h"
#include "app/win32/dialogs.h"
#include "directory/schema_keywords.h"

int ListSchemaKeywords(HWND comboBox) {
    SendMessageA(comboBox, CB_RESETCONTENT, 0, 0);
    return ListSchemaKeywords(DirectoryContext, [comboBox](const char* keyword) {
        SendMessageA(comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(keyword));
    });
}
