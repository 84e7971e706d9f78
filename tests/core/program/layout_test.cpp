#include <gtest/gtest.h>

#include "app/about.h"
#include "program/layout.h"

namespace {

TEST(Layout, MainWindowStartsCentredOnTheScreen) {
    const PixelPoint at = CentreOnScreen({1024, 768}, kInitialMainWindowSize);
    EXPECT_EQ(at.x, 248);
    EXPECT_EQ(at.y, 144);
    const PixelPoint odd = CentreOnScreen({1023, 767}, {528, 480});
    EXPECT_EQ(odd.x, 247);
    EXPECT_EQ(odd.y, 143);
    const PixelPoint small = CentreOnScreen({400, 300}, {528, 481});
    EXPECT_EQ(small.x, -64);
    EXPECT_EQ(small.y, -90) << "truncated toward zero";
}

TEST(Layout, MainWindowFitsTheDialogWithTheMarginOnEverySide) {
    // Frame of 8 at each side, 8 below, a caption and menu of 42 above.
    const PixelRect window{100, 50, 628, 530};
    const PixelSize client{512, 430};
    const PixelRect dialog{118, 112, 118 + 337, 112 + 331};
    const PixelSize size = MainWindowSizeFor(client, window, dialog);
    EXPECT_EQ(size.width, 16 + 337 + 20);
    EXPECT_EQ(size.height, 50 + 331 + 20);
}

TEST(Layout, DialogIsCentredOverTheClientArea) {
    const PixelRect window{100, 50, 628, 530};  // border 8; client 512 x 430
    const PixelRect dialog{0, 0, 200, 101};
    const PixelPoint at = CentreOverClientArea({512, 430}, window, dialog);
    // Client area on the screen: left 108, right 620, bottom 522, top 92.
    EXPECT_EQ(at.x, 108 + (512 - 200) / 2);
    EXPECT_EQ(at.y, 92 + (430 - 101) / 2);

    const PixelPoint large = CentreOverClientArea({512, 430}, window, {0, 0, 600, 500});
    EXPECT_EQ(large.x, 108 - 44) << "not kept inside anything";
    EXPECT_EQ(large.y, 92 - 35);
}

TEST(About, VersionTextHasOneHexDigitPerNumber) {
    struct Case {
        ProgramVersion version;
        const char* text;
    };
    const Case cases[] = {
        {{4, 2, 5, 'f', 0, "4.25f"}, "TallyDesk 4.25f (32 bit)"},
        {{4, 2, 5, 'f', 12, "4.25f+12.g1a2b3c4"}, "TallyDesk 4.25f (32 bit)"},  // build not shown
        {{15, 10, 0, 'a', 0, "F.A0a"}, "TallyDesk F.A0a (32 bit)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AboutVersionText(c.version), c.text) << c.version.text;
    }
    // The box shows the release the whole version text begins with.
    const std::string release(BuildVersion().text.substr(0, 5));
    EXPECT_EQ(AboutVersionText(), "TallyDesk " + release + " (32 bit)");
}

}  // namespace
