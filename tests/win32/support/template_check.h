// What the template tests share: a passive dialog made from a template over an owner window,
// its client size and font, and a walk over its controls in template order, each against its
// row of a table (id, class, text hook, place in dialog units).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tally::win32test {

constexpr int kStatic = -1;

// How much of a control's rectangle its row fixes: drop-down and list heights follow the font
// and the items, an icon's size the icon.
enum Check { kWholeRect, kNoHeight, kOnlyOrigin };

struct ExpectedControl {
    int id;
    const char* className;
    DWORD style;  // bits that must be set, beyond WS_CHILD
    const char* text;
    int x, y, cx, cy;
    Check check = kWholeRect;
};

INT_PTR CALLBACK PassiveProc(HWND, UINT message, WPARAM, LPARAM);
std::string ClassOf(HWND window);
std::string TextOf(HWND window);

// The control's style, with a 3-D dialog's client edge read back as the border it stands for.
DWORD StyleOf(HWND window);

// The dialog manager converts origin and size each on its own, so the far edge is the sum of two
// rounded values, not the rounded sum.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy);

// The checks on one control that depend on the dialogs under test: style and text.
using ControlDetails = std::function<void(HWND control, const ExpectedControl& expected)>;

class TemplateTest : public ::testing::Test {
  protected:
    TemplateTest(int ownerWidth, int ownerHeight)
        : ownerWidth_(ownerWidth), ownerHeight_(ownerHeight) {}

    void SetUp() override;
    void TearDown() override;

    void Open(const char* name, DLGPROC procedure = PassiveProc);
    void ExpectClientSize(int cx, int cy);
    // The template's face at 8 points on this screen.
    void ExpectFont(const char* face);
    // The controls in template order, each against its row of the table.
    void ExpectControls(const std::vector<ExpectedControl>& controls,
                        const ControlDetails& details);
    // The ids that Tab visits, starting where the dialog manager puts the first focus.
    std::vector<int> TabOrder();

    HWND owner_ = nullptr;
    HWND dialog_ = nullptr;

  private:
    void ExpectPlace(HWND control, const ExpectedControl& expected);

    int ownerWidth_;
    int ownerHeight_;
};

}  // namespace tally::win32test
