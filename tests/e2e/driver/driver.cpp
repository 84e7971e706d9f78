// tallyctl: drives the windows of another Win32 program for the end-to-end scenarios.
//
// Runs under the same Wine prefix as the program it drives (windows of other prefixes are out of
// reach). One command per invocation (`tallyctl text 0x1005c 480`), or many over a pipe with
// `tallyctl --serve` (see protocol.h), which saves starting a Wine process per step.
//
// Everything that can open a modal dialog in the target (clicks, commands, menu picks, system
// commands, close) is posted, never sent, so the driver never waits on the target's modal loop;
// queries are sent with a timeout so that a hung target gives an error instead of a hang.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "dialog_template.h"
#include "protocol.h"

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kPollMs = 50;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) {
    throw Failure{message};
}

using Values = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Arguments: positional words plus --name value options and bare --flags.

class Args {
  public:
    Args(const std::vector<std::string>& words, std::size_t first,
         const std::vector<std::string>& flagNames) {
        for (std::size_t i = first; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.rfind("--", 0) == 0 && w.size() > 2) {
                std::string name = w.substr(2);
                bool isFlag = false;
                for (const auto& f : flagNames) {
                    isFlag = isFlag || f == name;
                }
                if (isFlag) {
                    options_[name] = "1";
                } else {
                    if (i + 1 >= words.size()) {
                        fail("option --" + name + " needs a value");
                    }
                    options_[name] = words[++i];
                }
            } else {
                positional_.push_back(w);
            }
        }
    }

    std::size_t count() const { return positional_.size(); }
    const std::string& at(std::size_t i, const char* what) const {
        if (i >= positional_.size()) {
            fail(std::string("missing argument: ") + what);
        }
        return positional_[i];
    }
    bool has(const std::string& name) const { return options_.count(name) != 0; }
    std::string option(const std::string& name, const std::string& fallback) const {
        auto it = options_.find(name);
        return it == options_.end() ? fallback : it->second;
    }
    long long number(const std::string& name, long long fallback) const {
        if (!has(name)) {
            return fallback;
        }
        auto v = e2e::parseInteger(options_.at(name));
        if (!v) {
            fail("option --" + name + " is not a number: " + options_.at(name));
        }
        return *v;
    }

  private:
    std::vector<std::string> positional_;
    std::map<std::string, std::string> options_;
};

long long toNumber(const std::string& text, const char* what) {
    auto v = e2e::parseInteger(text);
    if (!v) {
        fail(std::string(what) + " is not a number: " + text);
    }
    return *v;
}

// ---------------------------------------------------------------------------------------------
// Windows and controls

std::string handleText(HWND h) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)));
    return buf;
}

HWND parseWindow(const std::string& text) {
    auto v = e2e::parseInteger(text);
    if (!v) {
        fail("not a window handle: " + text);
    }
    HWND h = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*v));
    if (!IsWindow(h)) {
        fail("no such window: " + text);
    }
    return h;
}

std::string className(HWND h) {
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

LRESULT sendOrFail(HWND h, UINT msg, WPARAM wp, LPARAM lp, const char* what) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(h, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
        fail(std::string("the window did not answer ") + what + " (" + handleText(h) + ")");
    }
    return static_cast<LRESULT>(result);
}

void postOrFail(HWND h, UINT msg, WPARAM wp, LPARAM lp, const char* what) {
    if (!PostMessageA(h, msg, wp, lp)) {
        fail(std::string("could not post ") + what + " to " + handleText(h));
    }
}

// Texts are fetched as UTF-16 and converted to the ANSI code page here: the platform converts
// replies of list-box and combo-box text requests between processes only in their wide form.
std::string narrow(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

LRESULT sendWideOrFail(HWND h, UINT msg, WPARAM wp, LPARAM lp, const char* what) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
        fail(std::string("the window did not answer ") + what + " (" + handleText(h) + ")");
    }
    return static_cast<LRESULT>(result);
}

// Sends a text request (WM_GETTEXT, LB_GETTEXT, CB_GETLBTEXT) for a text of known length.
std::string fetchText(HWND h, UINT msg, WPARAM wp, LRESULT length, const char* what) {
    if (length < 0) {
        fail(std::string("no text for ") + what);
    }
    std::wstring buf(static_cast<std::size_t>(length) + 1, L'\0');
    LPARAM lp = reinterpret_cast<LPARAM>(buf.data());
    if (msg == WM_GETTEXT) {
        wp = buf.size();
    }
    LRESULT got = sendWideOrFail(h, msg, wp, lp, what);
    if (got < 0) {
        got = 0;
    }
    buf.resize(std::min(static_cast<std::size_t>(got), buf.size() - 1));
    return narrow(buf);
}

std::string windowText(HWND h) {
    LRESULT len = sendWideOrFail(h, WM_GETTEXTLENGTH, 0, 0, "WM_GETTEXTLENGTH");
    return fetchText(h, WM_GETTEXT, 0, len, "WM_GETTEXT");
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK matchChildId(HWND h, LPARAM lp) {
    auto* search = reinterpret_cast<ChildSearch*>(lp);
    if (GetDlgCtrlID(h) == search->id) {
        search->found = h;
        return FALSE;
    }
    return TRUE;
}

// A control by its id: a direct child first, else the first descendant with that id (so the
// controls of a modeless dialog inside a main window are reached through the main window).
// Id 0 names the window itself.
HWND control(HWND window, const std::string& idText) {
    int id = static_cast<int>(toNumber(idText, "control id"));
    if (id == 0) {
        return window;
    }
    if (HWND direct = GetDlgItem(window, id)) {
        return direct;
    }
    ChildSearch search{id, nullptr};
    EnumChildWindows(window, matchChildId, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        fail("window " + handleText(window) + " has no control " + idText);
    }
    return search.found;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

std::vector<HWND> descendants(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM lp) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

DWORD processOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

struct WindowFilter {
    std::string title;
    bool byTitle = false;
    std::string titlePrefix;
    bool byPrefix = false;
    std::string cls;
    bool byClass = false;
    bool visibleOnly = false;
    DWORD pid = 0;

    bool matches(HWND h) const {
        if (visibleOnly && !IsWindowVisible(h)) {
            return false;
        }
        if (byClass && !sameText(className(h), cls)) {
            return false;
        }
        if (pid && processOf(h) != pid) {
            return false;
        }
        if (byTitle || byPrefix) {
            char buf[1024] = {};
            GetWindowTextA(h, buf, sizeof buf);
            std::string t = buf;
            if (byTitle && t != title) {
                return false;
            }
            if (byPrefix && t.rfind(titlePrefix, 0) != 0) {
                return false;
            }
        }
        return true;
    }
    std::string describe() const {
        std::string d;
        if (byTitle) {
            d += " titled \"" + title + "\"";
        }
        if (byPrefix) {
            d += " with a title starting \"" + titlePrefix + "\"";
        }
        if (byClass) {
            d += " of class \"" + cls + "\"";
        }
        if (visibleOnly) {
            d += " (visible)";
        }
        return d.empty() ? " (any)" : d;
    }
};

WindowFilter filterFrom(const Args& args) {
    WindowFilter f;
    if (args.has("title")) {
        f.byTitle = true;
        f.title = args.option("title", "");
    }
    if (args.has("title-prefix")) {
        f.byPrefix = true;
        f.titlePrefix = args.option("title-prefix", "");
    }
    if (args.has("class")) {
        f.byClass = true;
        f.cls = args.option("class", "");
    }
    f.visibleOnly = args.has("visible");
    f.pid = static_cast<DWORD>(args.number("pid", 0));
    return f;
}

template <typename Pred>
bool waitUntil(DWORD timeoutMs, Pred ready) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ready()) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
}

// ---------------------------------------------------------------------------------------------
// Dialog units

struct BaseUnits {
    int x;
    int y;
};

INT_PTR CALLBACK silentDialog(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// The base units of a font, measured the way the dialog manager measures them: by making a
// hidden dialog with that font and mapping 4 by 8 dialog units.
BaseUnits baseUnitsOf(const std::string& font, int pointSize) {
    static std::map<std::pair<std::string, int>, BaseUnits> cache;
    auto key = std::make_pair(font, pointSize);
    if (auto it = cache.find(key); it != cache.end()) {
        return it->second;
    }
    e2e::DialogTemplate tmpl(WS_POPUP, 0, 0, 100, 100, "", font, static_cast<WORD>(pointSize));
    HWND dlg =
        CreateDialogIndirectParamA(GetModuleHandleA(nullptr), tmpl.get(), nullptr, silentDialog, 0);
    if (!dlg) {
        fail("could not make a measuring dialog with the font " + font);
    }
    RECT r{0, 0, 4, 8};
    BOOL mapped = MapDialogRect(dlg, &r);
    DestroyWindow(dlg);
    if (!mapped || r.right <= 0 || r.bottom <= 0) {
        fail("could not measure the font " + font);
    }
    BaseUnits units{r.right, r.bottom};
    cache[key] = units;
    return units;
}

// The dialog-unit value that the dialog manager maps to px, or "~n" when none maps exactly.
std::string pixelsToUnits(int px, int base, int unitsPerBase) {
    long guess = std::lround(static_cast<double>(px) * unitsPerBase / base);
    for (long candidate : {guess, guess - 1, guess + 1}) {
        if (MulDiv(static_cast<int>(candidate), base, unitsPerBase) == px) {
            return std::to_string(candidate);
        }
    }
    return "~" + std::to_string(guess);
}

// A control's rectangle in its parent's client coordinates. For a combo box that is its closed
// field: the dropped-down height of its template is not measured the same way on every platform.
RECT rectInParent(HWND ctrl) {
    RECT r{};
    GetWindowRect(ctrl, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(ctrl), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// ---------------------------------------------------------------------------------------------
// List boxes and combo boxes

enum class ListKind { ListBox, ComboBox };

ListKind listKind(HWND ctrl) {
    std::string cls = className(ctrl);
    if (sameText(cls, "ListBox") || sameText(cls, "ComboLBox")) {
        return ListKind::ListBox;
    }
    if (sameText(cls, "ComboBox")) {
        return ListKind::ComboBox;
    }
    fail("control " + handleText(ctrl) + " is a " + cls + ", not a list box or combo box");
}

Values listItems(HWND ctrl) {
    ListKind kind = listKind(ctrl);
    const bool lb = kind == ListKind::ListBox;
    LRESULT count = sendOrFail(ctrl, lb ? LB_GETCOUNT : CB_GETCOUNT, 0, 0, "GETCOUNT");
    if (count < 0) {
        fail("the list did not give its item count");
    }
    Values items;
    for (LRESULT i = 0; i < count; ++i) {
        WPARAM index = static_cast<WPARAM>(i);
        LRESULT len =
            sendWideOrFail(ctrl, lb ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, index, 0, "GETTEXTLEN");
        items.push_back(fetchText(ctrl, lb ? LB_GETTEXT : CB_GETLBTEXT, index, len, "GETTEXT"));
    }
    return items;
}

bool isMultiSelect(HWND ctrl) {
    LONG style = GetWindowLongA(ctrl, GWL_STYLE);
    return (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

Values selectedIndexes(HWND ctrl) {
    Values out;
    if (listKind(ctrl) == ListKind::ComboBox) {
        LRESULT sel = sendOrFail(ctrl, CB_GETCURSEL, 0, 0, "CB_GETCURSEL");
        if (sel >= 0) {
            out.push_back(std::to_string(sel));
        }
        return out;
    }
    if (!isMultiSelect(ctrl)) {
        LRESULT sel = sendOrFail(ctrl, LB_GETCURSEL, 0, 0, "LB_GETCURSEL");
        if (sel >= 0) {
            out.push_back(std::to_string(sel));
        }
        return out;
    }
    LRESULT count = sendOrFail(ctrl, LB_GETCOUNT, 0, 0, "LB_GETCOUNT");
    for (LRESULT i = 0; i < count; ++i) {
        if (sendOrFail(ctrl, LB_GETSEL, static_cast<WPARAM>(i), 0, "LB_GETSEL") > 0) {
            out.push_back(std::to_string(i));
        }
    }
    return out;
}

long indexOfItem(HWND ctrl, const std::string& which) {
    if (!which.empty() && which[0] == '=') {
        Values items = listItems(ctrl);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i] == which.substr(1)) {
                return static_cast<long>(i);
            }
        }
        fail("the list has no item \"" + which.substr(1) + "\"");
    }
    return static_cast<long>(toNumber(which, "item index"));
}

// Tells the list's parent that the selection changed, as a user's pick would.
void notifySelectionChange(HWND ctrl) {
    WORD code = listKind(ctrl) == ListKind::ComboBox ? CBN_SELCHANGE : LBN_SELCHANGE;
    WPARAM wp = MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(ctrl)), code);
    sendOrFail(GetParent(ctrl), WM_COMMAND, wp, reinterpret_cast<LPARAM>(ctrl),
               "the selection-change notification");
}

// ---------------------------------------------------------------------------------------------
// Menus (reachable only where the platform lets another process read them)

bool findMenuItem(HMENU menu, UINT id, UINT* state, std::string* text) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info{};
        char buf[256] = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = buf;
        info.cch = sizeof buf - 1;
        if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) {
            continue;
        }
        if (info.hSubMenu) {
            if (findMenuItem(info.hSubMenu, id, state, text)) {
                return true;
            }
        } else if (info.wID == id) {
            *state = info.fState;
            *text = buf;
            return true;
        }
    }
    return false;
}

void listMenu(HMENU menu, const std::string& indent, Values& out) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info{};
        char buf[256] = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING | MIIM_FTYPE;
        info.dwTypeData = buf;
        info.cch = sizeof buf - 1;
        if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) {
            continue;
        }
        std::string state = (info.fState & MFS_GRAYED) ? "grayed" : "enabled";
        if (info.fType & MFT_SEPARATOR) {
            out.push_back(indent + "-");
        } else if (info.hSubMenu) {
            out.push_back(indent + buf);
            listMenu(info.hSubMenu, indent + "  ", out);
        } else {
            out.push_back(indent + std::to_string(info.wID) + "\t" + buf + "\t" + state);
        }
    }
}

HMENU menuOf(HWND window) {
    HMENU menu = GetMenu(window);
    if (!menu) {
        fail("window " + handleText(window) + " has no menu");
    }
    if (GetMenuItemCount(menu) < 0) {
        fail("the menu of " + handleText(window) + " cannot be read from another process here");
    }
    return menu;
}

// ---------------------------------------------------------------------------------------------
// The commands

struct Command {
    const char* usage;
    std::vector<std::string> flags;
    std::function<Values(const Args&)> run;
};

Values one(const std::string& v) {
    return Values{v};
}

std::string rectText(long a, long b, long c, long d) {
    return std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
           std::to_string(d);
}

UINT syscommandCode(const std::string& name) {
    if (name == "minimize" || name == "minimise") {
        return SC_MINIMIZE;
    }
    if (name == "restore") {
        return SC_RESTORE;
    }
    if (name == "close") {
        return SC_CLOSE;
    }
    if (name == "maximize" || name == "maximise") {
        return SC_MAXIMIZE;
    }
    return static_cast<UINT>(toNumber(name, "system command"));
}

std::string describeWindow(HWND h) {
    char title[512] = {};
    GetWindowTextA(h, title, sizeof title);
    return handleText(h) + "\t" + className(h) + "\t" + title + "\t" +
           (IsWindowVisible(h) ? "visible" : "hidden") + "\t" + std::to_string(processOf(h));
}

// The static texts of a message box, in order, without its icon.
std::string messageBoxText(HWND box) {
    std::string text;
    for (HWND child : descendants(box)) {
        if (!sameText(className(child), "Static")) {
            continue;
        }
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            continue;
        }
        std::string t = windowText(child);
        if (t.empty()) {
            continue;
        }
        if (!text.empty()) {
            text += "\n";
        }
        text += t;
    }
    return text;
}

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"find",
         {"find [--title T] [--title-prefix P] [--class C] [--visible] [--pid P] [--timeout MS]"
          "  -> the first top-level window that matches, waiting for it",
          {"visible"},
          [](const Args& a) {
              WindowFilter f = filterFrom(a);
              HWND found = nullptr;
              bool ok = waitUntil(static_cast<DWORD>(a.number("timeout", kDefaultWaitMs)), [&] {
                  for (HWND h : topLevelWindows()) {
                      if (f.matches(h)) {
                          found = h;
                          return true;
                      }
                  }
                  return false;
              });
              if (!ok) {
                  fail("no top-level window" + f.describe());
              }
              return one(handleText(found));
          }}},
        {"windows",
         {"windows [--title T] [--class C] [--visible]  -> handle, class, title, shown, pid",
          {"visible"},
          [](const Args& a) {
              WindowFilter f = filterFrom(a);
              Values out;
              for (HWND h : topLevelWindows()) {
                  if (f.matches(h)) {
                      out.push_back(describeWindow(h));
                  }
              }
              return out;
          }}},
        {"wait-gone",
         {"wait-gone HWND [--timeout MS]  -> waits until the window no longer exists",
          {},
          [](const Args& a) {
              auto v = e2e::parseInteger(a.at(0, "window"));
              if (!v) {
                  fail("not a window handle: " + a.at(0, "window"));
              }
              HWND h = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*v));
              if (!waitUntil(static_cast<DWORD>(a.number("timeout", kDefaultWaitMs)),
                             [&] { return !IsWindow(h); })) {
                  fail("window " + a.at(0, "window") + " is still there");
              }
              return Values{};
          }}},
        {"title",
         {"title HWND  -> the window's title",
          {},
          [](const Args& a) { return one(windowText(parseWindow(a.at(0, "window")))); }}},
        {"text",
         {"text HWND ID  -> the text of control ID (a descendant of HWND)",
          {},
          [](const Args& a) {
              return one(windowText(control(parseWindow(a.at(0, "window")), a.at(1, "id"))));
          }}},
        {"set-text",
         {"set-text HWND ID TEXT",
          {},
          [](const Args& a) {
              HWND c = control(parseWindow(a.at(0, "window")), a.at(1, "id"));
              const std::string& text = a.at(2, "text");
              std::wstring wide = widen(text);
              sendWideOrFail(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                             "WM_SETTEXT");
              return Values{};
          }}},
        {"click",
         {"click HWND ID  -> posts BM_CLICK to the button",
          {},
          [](const Args& a) {
              HWND c = control(parseWindow(a.at(0, "window")), a.at(1, "id"));
              postOrFail(c, BM_CLICK, 0, 0, "BM_CLICK");
              return Values{};
          }}},
        {"command",
         {"command HWND ID [--code N] [--send]  -> WM_COMMAND as a menu or accelerator gives it",
          {"send"},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              WORD id = static_cast<WORD>(toNumber(a.at(1, "id"), "command id"));
              WPARAM wp = MAKEWPARAM(id, static_cast<WORD>(a.number("code", 0)));
              if (a.has("send")) {
                  sendOrFail(w, WM_COMMAND, wp, 0, "WM_COMMAND");
              } else {
                  postOrFail(w, WM_COMMAND, wp, 0, "WM_COMMAND");
              }
              return Values{};
          }}},
        {"menu",
         {"menu HWND ID  -> picks menu command ID (refused when the item is missing or greyed)",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              UINT id = static_cast<UINT>(toNumber(a.at(1, "id"), "command id"));
              HMENU menu = GetMenu(w);
              if (!menu) {
                  fail("window " + handleText(w) + " has no menu");
              }
              Values note;
              if (GetMenuItemCount(menu) >= 0) {
                  UINT state = 0;
                  std::string text;
                  if (!findMenuItem(menu, id, &state, &text)) {
                      fail("the menu has no command " + std::to_string(id));
                  }
                  if (state & MFS_GRAYED) {
                      fail("menu item \"" + text + "\" (" + std::to_string(id) + ") is greyed");
                  }
                  note.push_back(text);
              } else {
                  note.push_back("(menu not readable from here; command posted unchecked)");
              }
              postOrFail(w, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0, "WM_COMMAND");
              return note;
          }}},
        {"menu-state",
         {"menu-state HWND ID  -> enabled | grayed",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              UINT id = static_cast<UINT>(toNumber(a.at(1, "id"), "command id"));
              UINT state = 0;
              std::string text;
              if (!findMenuItem(menuOf(w), id, &state, &text)) {
                  fail("the menu has no command " + std::to_string(id));
              }
              return one((state & MFS_GRAYED) ? "grayed" : "enabled");
          }}},
        {"menu-items",
         {"menu-items HWND  -> the menu bar, one item a line: id, text, state",
          {},
          [](const Args& a) {
              Values out;
              listMenu(menuOf(parseWindow(a.at(0, "window"))), "", out);
              return out;
          }}},
        {"items",
         {"items HWND ID  -> the items of a list box or combo box, one a line",
          {},
          [](const Args& a) {
              return listItems(control(parseWindow(a.at(0, "window")), a.at(1, "id")));
          }}},
        {"count",
         {"count HWND ID  -> how many items a list box or combo box holds",
          {},
          [](const Args& a) {
              HWND c = control(parseWindow(a.at(0, "window")), a.at(1, "id"));
              const bool lb = listKind(c) == ListKind::ListBox;
              return one(
                  std::to_string(sendOrFail(c, lb ? LB_GETCOUNT : CB_GETCOUNT, 0, 0, "GETCOUNT")));
          }}},
        {"selection",
         {"selection HWND ID  -> the selected item indexes, one a line",
          {},
          [](const Args& a) {
              return selectedIndexes(control(parseWindow(a.at(0, "window")), a.at(1, "id")));
          }}},
        {"select",
         {"select HWND ID INDEX|=TEXT [--add] [--no-notify]  -> selects an item and tells the "
          "parent, as a user's pick does (--add keeps a multiple selection)",
          {"add", "no-notify"},
          [](const Args& a) {
              HWND c = control(parseWindow(a.at(0, "window")), a.at(1, "id"));
              long index = indexOfItem(c, a.at(2, "item"));
              if (listKind(c) == ListKind::ComboBox) {
                  LRESULT r =
                      sendOrFail(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0, "CB_SETCURSEL");
                  if (r == CB_ERR && index >= 0) {
                      fail("no item " + std::to_string(index));
                  }
              } else if (isMultiSelect(c)) {
                  if (!a.has("add")) {
                      sendOrFail(c, LB_SETSEL, FALSE, -1, "LB_SETSEL");
                  }
                  if (sendOrFail(c, LB_SETSEL, TRUE, index, "LB_SETSEL") == LB_ERR) {
                      fail("no item " + std::to_string(index));
                  }
                  sendOrFail(c, LB_SETCARETINDEX, static_cast<WPARAM>(index), 0,
                             "LB_SETCARETINDEX");
              } else {
                  LRESULT r =
                      sendOrFail(c, LB_SETCURSEL, static_cast<WPARAM>(index), 0, "LB_SETCURSEL");
                  if (r == LB_ERR && index >= 0) {
                      fail("no item " + std::to_string(index));
                  }
              }
              if (!a.has("no-notify")) {
                  notifySelectionChange(c);
              }
              return Values{};
          }}},
        {"checked",
         {"checked HWND ID  -> 0, 1 or 2 (indeterminate)",
          {},
          [](const Args& a) {
              HWND c = control(parseWindow(a.at(0, "window")), a.at(1, "id"));
              return one(std::to_string(sendOrFail(c, BM_GETCHECK, 0, 0, "BM_GETCHECK")));
          }}},
        {"enabled",
         {"enabled HWND [ID]  -> 1 or 0",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              HWND c = a.count() > 1 ? control(w, a.at(1, "id")) : w;
              return one(IsWindowEnabled(c) ? "1" : "0");
          }}},
        {"visible",
         {"visible HWND [ID]  -> 1 or 0",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              HWND c = a.count() > 1 ? control(w, a.at(1, "id")) : w;
              return one(IsWindowVisible(c) ? "1" : "0");
          }}},
        {"iconic",
         {"iconic HWND  -> 1 when minimised",
          {},
          [](const Args& a) { return one(IsIconic(parseWindow(a.at(0, "window"))) ? "1" : "0"); }}},
        {"rect",
         {"rect HWND [ID]  -> window rectangle on the screen: left top right bottom",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              HWND c = a.count() > 1 ? control(w, a.at(1, "id")) : w;
              RECT r{};
              if (!GetWindowRect(c, &r)) {
                  fail("could not read the window rectangle");
              }
              return one(rectText(r.left, r.top, r.right, r.bottom));
          }}},
        {"client",
         {"client HWND  -> client area: x y (its origin on the screen) width height",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              RECT r{};
              POINT origin{0, 0};
              if (!GetClientRect(w, &r) || !ClientToScreen(w, &origin)) {
                  fail("could not read the client rectangle");
              }
              return one(rectText(origin.x, origin.y, r.right, r.bottom));
          }}},
        {"pos",
         {"pos HWND ID  -> the control's x y width height in its parent's client area, pixels",
          {},
          [](const Args& a) {
              HWND c = control(parseWindow(a.at(0, "window")), a.at(1, "id"));
              RECT r = rectInParent(c);
              return one(rectText(r.left, r.top, r.right - r.left, r.bottom - r.top));
          }}},
        {"dlu",
         {"dlu HWND ID [--font F] [--size PT]  -> x y width height in dialog units of the font "
          "(default MS Sans Serif 8); ID 0 gives the window's client size; ~n: no exact value",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              HWND c = control(w, a.at(1, "id"));
              BaseUnits b = baseUnitsOf(a.option("font", "MS Sans Serif"),
                                        static_cast<int>(a.number("size", 8)));
              RECT r{};
              if (c == w) {
                  GetClientRect(w, &r);
              } else {
                  r = rectInParent(c);
              }
              return one(pixelsToUnits(r.left, b.x, 4) + " " + pixelsToUnits(r.top, b.y, 8) + " " +
                         pixelsToUnits(r.right - r.left, b.x, 4) + " " +
                         pixelsToUnits(r.bottom - r.top, b.y, 8));
          }}},
        {"base-units",
         {"base-units [--font F] [--size PT]  -> the font's dialog base units x y",
          {},
          [](const Args& a) {
              BaseUnits b = baseUnitsOf(a.option("font", "MS Sans Serif"),
                                        static_cast<int>(a.number("size", 8)));
              return one(std::to_string(b.x) + " " + std::to_string(b.y));
          }}},
        {"style",
         {"style HWND [ID]  -> style and extended style, hexadecimal",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              HWND c = a.count() > 1 ? control(w, a.at(1, "id")) : w;
              char buf[64];
              std::snprintf(buf, sizeof buf, "0x%08lx 0x%08lx",
                            static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE)),
                            static_cast<unsigned long>(GetWindowLongA(c, GWL_EXSTYLE)));
              return one(buf);
          }}},
        {"children",
         {"children HWND  -> every descendant: handle, id, class, text, x y w h in its parent",
          {},
          [](const Args& a) {
              Values out;
              for (HWND c : descendants(parseWindow(a.at(0, "window")))) {
                  RECT r = rectInParent(c);
                  out.push_back(handleText(c) + "\t" + std::to_string(GetDlgCtrlID(c)) + "\t" +
                                className(c) + "\t" + windowText(c) + "\t" +
                                rectText(r.left, r.top, r.right - r.left, r.bottom - r.top));
              }
              return out;
          }}},
        {"parent",
         {"parent HWND [ID]  -> the parent (or owner) window",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              HWND c = a.count() > 1 ? control(w, a.at(1, "id")) : w;
              HWND p = GetParent(c);
              return one(handleText(p));
          }}},
        {"pid",
         {"pid HWND  -> the Windows process id of the window's owner",
          {},
          [](const Args& a) {
              return one(std::to_string(processOf(parseWindow(a.at(0, "window")))));
          }}},
        {"syscommand",
         {"syscommand HWND minimize|restore|close|CODE  -> posts WM_SYSCOMMAND",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              postOrFail(w, WM_SYSCOMMAND, syscommandCode(a.at(1, "command")), 0, "WM_SYSCOMMAND");
              return Values{};
          }}},
        {"close",
         {"close HWND  -> posts WM_CLOSE",
          {},
          [](const Args& a) {
              postOrFail(parseWindow(a.at(0, "window")), WM_CLOSE, 0, 0, "WM_CLOSE");
              return Values{};
          }}},
        {"foreground",
         {"foreground HWND  -> makes the window the active one (for real key presses)",
          {},
          [](const Args& a) {
              HWND w = parseWindow(a.at(0, "window"));
              SetForegroundWindow(w);
              BringWindowToTop(w);
              bool ok = waitUntil(2000, [&] { return GetForegroundWindow() == w; });
              return one(ok ? "1" : "0");
          }}},
        {"msgbox",
         {"msgbox HWND  -> the text of a message box",
          {},
          [](const Args& a) { return one(messageBoxText(parseWindow(a.at(0, "window")))); }}},
        {"buttons",
         {"buttons HWND  -> the buttons of a dialog: id and text",
          {},
          [](const Args& a) {
              Values out;
              for (HWND c : descendants(parseWindow(a.at(0, "window")))) {
                  if (sameText(className(c), "Button")) {
                      out.push_back(std::to_string(GetDlgCtrlID(c)) + "\t" + windowText(c));
                  }
              }
              return out;
          }}},
        {"sleep",
         {"sleep MS",
          {},
          [](const Args& a) {
              Sleep(static_cast<DWORD>(toNumber(a.at(0, "milliseconds"), "milliseconds")));
              return Values{};
          }}},
    };
    return table;
}

struct Outcome {
    bool ok;
    Values values;
    std::string error;
};

Outcome runCommand(const std::vector<std::string>& words) {
    if (words.empty()) {
        return {false, {}, "empty command"};
    }
    auto it = commands().find(words[0]);
    if (it == commands().end()) {
        return {false, {}, "unknown command: " + words[0]};
    }
    try {
        Args args(words, 1, it->second.flags);
        return {true, it->second.run(args), {}};
    } catch (const Failure& f) {
        return {false, {}, words[0] + ": " + f.message + "\n  usage: " + it->second.usage};
    } catch (const std::exception& e) {
        return {false, {}, words[0] + ": " + e.what()};
    }
}

// Starts a program with exactly the command-line text given after its name (no quoting added or
// removed), waits for it and hands back its exit code, so that the harness sees the program's
// exit code as this process's own.
int runProgram(const std::vector<std::string>& words) {
    try {
        Args a(words, 1, {});
        std::string commandLine = "\"" + a.at(0, "program") + "\"";
        if (a.has("cmdline")) {
            commandLine += " " + a.option("cmdline", "");
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process)) {
            fail("could not start " + a.at(0, "program") + " (error " +
                 std::to_string(GetLastError()) + ")");
        }
        CloseHandle(process.hThread);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        return static_cast<int>(code);
    } catch (const Failure& f) {
        std::fprintf(stderr, "tallyctl: run: %s\n  usage: run PROGRAM [--cmdline TEXT]\n",
                     f.message.c_str());
        return 125;
    }
}

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: tallyctl COMMAND ARGS...   (one command)\n"
                 "       tallyctl --serve           (commands on stdin, one a line; replies "
                 "\"OK n\" + n lines or \"ERR message\")\n"
                 "       tallyctl run PROGRAM [--cmdline TEXT]   (starts PROGRAM with exactly "
                 "TEXT as its command line, waits, exits with its exit code)\n\ncommands:\n");
    for (const auto& [name, cmd] : commands()) {
        std::fprintf(to, "  %s\n", cmd.usage);
    }
}

int serve() {
    std::string line;
    while (std::getline(std::cin, line)) {
        auto split = e2e::splitCommandLine(line);
        if (split.words.empty() && split.error.empty()) {
            continue;
        }
        if (split.words.size() == 1 && split.words[0] == "quit") {
            break;
        }
        Outcome out =
            split.error.empty() ? runCommand(split.words) : Outcome{false, {}, split.error};
        if (out.ok) {
            std::printf("OK %zu\n", out.values.size());
            for (const auto& v : out.values) {
                std::printf("%s\n", e2e::escapeValue(v).c_str());
            }
        } else {
            std::printf("ERR %s\n", e2e::escapeValue(out.error).c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Plain \n line ends: the other end of the pipe is a Linux program.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h") {
        printUsage(words.empty() ? stderr : stdout);
        return words.empty() ? 2 : 0;
    }
    if (words[0] == "--serve") {
        return serve();
    }
    if (words[0] == "run") {
        return runProgram(words);
    }
    Outcome out = runCommand(words);
    if (!out.ok) {
        std::fprintf(stderr, "tallyctl: %s\n", out.error.c_str());
        return 1;
    }
    for (const auto& v : out.values) {
        std::printf("%s\n", v.c_str());
    }
    return 0;
}
