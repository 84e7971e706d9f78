// Times FillObjectList into a real sorted, extended-selection list box like MainList, for
// contexts of 1,000 and 10,000 users of a generated network. A timing program, not a test: run
// it under Wine and read the figures it prints.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "browse/object_list.h"
#include "browse/win32/list_box.h"
#include "generated_network.h"

namespace {

constexpr int kRuns = 5;

HWND CreateMainListLike() {
    HWND parent = CreateWindowA("STATIC", "timing", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (parent == nullptr) {
        std::printf("no parent window: error %lu\n", GetLastError());
    }
    HWND list = CreateWindowA(
        "LISTBOX", "",
        WS_CHILD | WS_VISIBLE | LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY | WS_VSCROLL | WS_BORDER,
        10, 10, 220, 230, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    return list;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

bool TimeFill(std::uint32_t users) {
    GeneratedNetwork network(users, TALLY_SCHEMA_FILE);
    if (!network.Ok()) {
        std::printf("%u users: no network: %s\n", users, network.Problem().c_str());
        return false;
    }
    HWND list = CreateMainListLike();
    if (list == nullptr) {
        std::printf("no list box: error %lu\n", GetLastError());
        return false;
    }
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    LRESULT entries = 0;
    for (int run = 0; run < kRuns; ++run) {
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        QueryPerformanceCounter(&start);
        FillObjectList(list, kUserClass, nullptr);
        QueryPerformanceCounter(&end);
        times.push_back(Milliseconds(start, end, frequency));
        entries = SendMessageA(list, LB_GETCOUNT, 0, 0);
    }
    std::sort(times.begin(), times.end());
    std::printf("%u users: %ld entries, MainList filled in %.1f ms (median of %d, best %.1f ms)\n",
                users, static_cast<long>(entries), times[kRuns / 2], kRuns, times.front());
    DestroyWindow(GetParent(list));
    return entries == static_cast<LRESULT>(users + users / 100 + 1);
}

}  // namespace

int main() {
    const bool small = TimeFill(1000);
    const bool large = TimeFill(10000);
    return small && large ? 0 : 1;
}
