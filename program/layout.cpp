#include "program/layout.h"

PixelPoint CentreOnScreen(PixelSize screen, PixelSize window) {
    return {(screen.width - window.width) / 2, (screen.height - window.height) / 2};
}

PixelSize MainWindowSizeFor(PixelSize client, const PixelRect& window, const PixelRect& dialog) {
    const int frameWidth = window.width() - client.width;
    const int frameHeight = window.height() - client.height;
    return {frameWidth + dialog.width() + 2 * kMainDialogMargin,
            frameHeight + dialog.height() + 2 * kMainDialogMargin};
}

PixelPoint CentreOverClientArea(PixelSize client, const PixelRect& window,
                                const PixelRect& dialog) {
    const int border = (window.width() - client.width) / 2;
    PixelRect area;
    area.left = window.left + border;
    area.right = window.right - border;
    area.bottom = window.bottom - border;
    area.top = area.bottom - client.height;
    return {area.left + (area.width() - dialog.width()) / 2,
            area.top + (area.height() - dialog.height()) / 2};
}
