#include "program/layout.h"

PixelPoint CentreOnScreen(PixelSize screen, PixelSize window) {
    return {(screen.width - window.width) / 2, (screen.height - window.height) / 2};
}

PixelSize MainWindowSizeFor(PixelSize client, const PixelRect& window, const PixelRect& dialog) {
    const int frameWidth = window.Width() - client.width;
    const int frameHeight = window.Height() - client.height;
    return {frameWidth + dialog.Width() + 2 * kMainDialogMargin,
            frameHeight + dialog.Height() + 2 * kMainDialogMargin};
}

PixelPoint CentreOverClientArea(PixelSize client, const PixelRect& window,
                                const PixelRect& dialog) {
    const int border = (window.Width() - client.width) / 2;
    PixelRect area;
    area.left = window.left + border;
    area.right = window.right - border;
    area.bottom = window.bottom - border;
    area.top = area.bottom - client.height;
    return {area.left + (area.Width() - dialog.Width()) / 2,
            area.top + (area.Height() - dialog.Height()) / 2};
}
