#include "program/win32/list_box_text.h"

std::string ListBoxText(HWND list, int index) {
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (index < 0 || length == LB_ERR) {
        return {};
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    if (SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(text.data())) == LB_ERR) {
        return {};
    }
    return text.data();
}

std::vector<std::string> ListBoxTexts(HWND list) {
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    std::vector<std::string> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back(ListBoxText(list, i));
    }
    return entries;
}

std::vector<std::string> SelectedListBoxTexts(HWND list) {
    const LRESULT count = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    if (count <= 0) {
        return {};
    }
    std::vector<int> positions(static_cast<std::size_t>(count), 0);
    const LRESULT found = SendMessageA(list, LB_GETSELITEMS, positions.size(),
                                       reinterpret_cast<LPARAM>(positions.data()));
    positions.resize(found > 0 ? static_cast<std::size_t>(found) : 0);
    std::vector<std::string> entries;
    entries.reserve(positions.size());
    for (int position : positions) {
        entries.push_back(ListBoxText(list, position));
    }
    return entries;
}
