#include "browse/win32/schema_keyword_list.h"

#include "browse/schema_keywords.h"
#include "program/session.h"

int ListSchemaKeywords(HWND comboBox) {
    SendMessageA(comboBox, CB_RESETCONTENT, 0, 0);
    return ListSchemaKeywords(DirectoryContext, [comboBox](const char* keyword) {
        SendMessageA(comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(keyword));
    });
}
