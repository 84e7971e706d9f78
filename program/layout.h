// Window placement arithmetic of the main window and of the dialogs placed over it, in screen
// pixels. Kept apart from the window code so that it can be checked without a screen.
#pragma once

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

struct PixelSize {
    int width = 0;
    int height = 0;
};

struct PixelPoint {
    int x = 0;
    int y = 0;
};

inline constexpr PixelSize kInitialMainWindowSize{528, 480};
// The main dialog sits this far from every edge of the main window's client area.
inline constexpr int kMainDialogMargin = 10;

// Top-left corner that centres a window of `window` size on the screen (integer division).
PixelPoint CentreOnScreen(PixelSize screen, PixelSize window);

// The main window's outer size that fits the main dialog with the margin on every side, given
// the window's current client size and outer rectangle.
PixelSize MainWindowSizeFor(PixelSize client, const PixelRect& window, const PixelRect& dialog);

// Where a dialog goes to stand over the middle of the main window's client area. The client area
// is rebuilt from the outer rectangle, taking the side border for the bottom one as well.
PixelPoint CentreOverClientArea(PixelSize client, const PixelRect& window, const PixelRect& dialog);
