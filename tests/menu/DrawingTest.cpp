// Drawing into memory DCs, checked pixel by pixel: blends, ticks and dots, check marks,
// selections, separators and disabled images.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "Canvas.h"
#include "MenuPlatform.h"
#include "TestMenuIds.h"
#include "VantuMenu.h"

namespace {
constexpr int kWidth = 160, kHeight = 22;

// A popup with a plain item, an item with a toolbar image and a separator, drawn one by one.
class ItemDrawing : public testing::Test {
protected:
    void SetUp() override {
        MenuPlatform::Current().Assume(kOsOtherNt, false);
        ASSERT_TRUE(menu.CreatePopupMenu());
        menu.AppendItem(L"&Plain\tF2", 0, 11);
        menu.AppendItem(L"&Pictured", 0, 12, IDR_TOOLBAR);
        menu.AppendItem(L"", 0, 0);
        ASSERT_GE(menu.Items()[1]->sharedImageIndex, 0);
    }
    void TearDown() override { MenuPlatform::Current().Assume(kOsOtherNt, false); }

    void Draw(const Canvas& canvas, int position, UINT state, int height = kHeight) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_MENU;
        item.itemID = static_cast<UINT>(menu.Items()[position]->id);
        item.itemState = state;
        item.hwndItem = reinterpret_cast<HWND>(menu.m_hMenu);
        item.hDC = canvas.Dc();
        item.rcItem = {0, 0, kWidth, height};
        item.itemData = reinterpret_cast<ULONG_PTR>(menu.Items()[position].get());
        menu.DrawItem(&item);
    }

    VantuMenu menu;
};

int CountColour(const Canvas& canvas, RECT area, COLORREF colour) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) count += canvas.At(x, y) == colour;
    return count;
}
}  // namespace

TEST(Blending, LightenColorLimitsAndHalves) {
    struct Case {
        COLORREF colour;
        double factor;
        COLORREF expected;
    };
    const Case cases[] = {
        {RGB(10, 20, 30), 0.0, RGB(10, 20, 30)},       {RGB(10, 20, 30), 1.5, RGB(10, 20, 30)},
        {RGB(10, 20, 30), -0.5, RGB(10, 20, 30)},      {RGB(0, 0, 0), 0.5, RGB(127, 127, 127)},
        {RGB(255, 255, 255), 0.3, RGB(255, 255, 255)}, {RGB(0, 100, 200), 1.0, RGB(255, 255, 255)},
        {RGB(255, 0, 0), 0.3, RGB(255, 76, 76)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VantuMenu::LightenColor(c.colour, c.factor), c.expected) << c.factor;
}

TEST(Marks, TickHasSevenStrokesOfThreePixels) {
    Canvas canvas(30, 30, RGB(255, 255, 255));
    VantuMenu::DrawTick(canvas.Dc(), 10, 10, RGB(0, 0, 0));
    const int top[7] = {2, 3, 4, 3, 2, 1, 0};
    for (int k = 0; k < 7; ++k)
        for (int y = 8; y < 20; ++y) {
            const bool inStroke = y >= 10 + top[k] && y < 10 + top[k] + 3;
            EXPECT_EQ(canvas.At(10 + k, y) == RGB(0, 0, 0), inStroke) << k << "," << y;
        }
    EXPECT_EQ(CountColour(canvas, {0, 0, 30, 30}, RGB(0, 0, 0)), 21);
}

TEST(Marks, RadioDotFillsSixBySix) {
    Canvas canvas(30, 30, RGB(255, 255, 255));
    VantuMenu::DrawRadioDot(canvas.Dc(), 10, 10, RGB(0, 0, 255));
    EXPECT_EQ(canvas.At(12, 12), RGB(0, 0, 255));
    EXPECT_EQ(canvas.At(13, 13), RGB(0, 0, 255));
    EXPECT_EQ(canvas.At(16, 13), RGB(255, 255, 255));
    EXPECT_EQ(canvas.At(13, 9), RGB(255, 255, 255));
    const int dot = CountColour(canvas, {0, 0, 30, 30}, RGB(0, 0, 255));
    EXPECT_GE(dot, 20);
    EXPECT_LE(dot, 36);
}

TEST(Marks, DisabledImageIsEmbossedInHighlightAndShadow) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF background = RGB(0, 128, 0);
    for (const bool dib : {false, true}) {
        VantuMenu menu;
        menu.m_dibDisabledImages = dib;
        Canvas image(16, 15, face);
        const RECT square{4, 4, 12, 11};
        FillRect(image.Dc(), &square, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        HBITMAP bitmap = CreateCompatibleBitmap(image.Dc(), 16, 15);
        {
            Canvas copy(1, 1);
            HGDIOBJ old = SelectObject(copy.Dc(), bitmap);
            BitBlt(copy.Dc(), 0, 0, 16, 15, image.Dc(), 0, 0, SRCCOPY);
            SelectObject(copy.Dc(), old);
        }
        Canvas canvas(40, 40);
        menu.DrawDisabledImage(canvas.Dc(), 10, 10, bitmap, background);
        DeleteObject(bitmap);
        EXPECT_EQ(canvas.At(14, 14), GetSysColor(COLOR_BTNSHADOW)) << dib;
        EXPECT_EQ(canvas.At(21, 20), GetSysColor(COLOR_BTNSHADOW)) << dib;
        EXPECT_EQ(canvas.At(22, 21), GetSysColor(COLOR_BTNHIGHLIGHT)) << dib;  // right, down
        EXPECT_EQ(canvas.At(11, 11), background) << dib;
        EXPECT_EQ(canvas.At(5, 5), RGB(255, 0, 255)) << dib;  // outside: untouched
    }
}

// Check images 0 (unselected) and 1 (selected), each of one colour.
HIMAGELIST MakeCheckImages(COLORREF unselected, COLORREF selected) {
    HIMAGELIST list = ImageList_Create(16, 15, ILC_COLOR32, 2, 0);
    for (const COLORREF colour : {unselected, selected}) {
        Canvas image(16, 15, colour);
        HBITMAP bitmap = CreateCompatibleBitmap(image.Dc(), 16, 15);
        {
            Canvas copy(1, 1);
            HGDIOBJ old = SelectObject(copy.Dc(), bitmap);
            BitBlt(copy.Dc(), 0, 0, 16, 15, image.Dc(), 0, 0, SRCCOPY);
            SelectObject(copy.Dc(), old);
        }
        ImageList_Add(list, bitmap, nullptr);
        DeleteObject(bitmap);
    }
    return list;
}

TEST_F(ItemDrawing, CheckedItemWithoutImageShowsTickDotOrCheckImage) {
    const COLORREF mark = GetSysColor(COLOR_MENUTEXT);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    ASSERT_EQ(highlight, RGB(48, 150, 250));  // the test prefix's: the shades below are its
    const COLORREF unselectedImage = RGB(10, 200, 90), selectedImage = RGB(200, 90, 10);
    struct Pixel {
        int x, y;
        COLORREF colour;
        bool is;  // else anything but that colour
    };
    struct Case {
        const char* name;
        int osClass;
        UINT state;
        bool bullet, checkImages;
        std::vector<Pixel> pixels;
    };
    // Classic look: box from (1, 3), tick at (5, 7), dot at (6, 7); check images at (2, 3).
    // XP look: a 16 x 16 box at (4, 3) with tick or dot at (9, 7); check images at (4, 4).
    const Case cases[] = {
        {"classic tick",
         kOsOtherNt,
         ODS_CHECKED,
         false,
         false,
         {{5, 9, mark, true}, {11, 7, mark, true}, {9, 10, mark, true}}},
        {"classic dot",
         kOsOtherNt,
         ODS_CHECKED,
         true,
         false,
         {{9, 10, mark, true}, {5, 9, mark, false}, {11, 7, mark, false}}},
        {"xp tick",
         kOsWinXp,
         ODS_CHECKED,
         false,
         false,
         {{4, 3, highlight, true},
          {19, 18, highlight, true},
          {5, 4, RGB(223, 239, 254), true},
          {9, 9, mark, true},
          {15, 7, mark, true},
          {15, 10, mark, false}}},
        {"xp dot",
         kOsWinXp,
         ODS_CHECKED,
         true,
         false,
         {{4, 3, highlight, true}, {12, 10, mark, true}, {15, 7, mark, false}}},
        {"classic check image",
         kOsOtherNt,
         ODS_CHECKED,
         false,
         true,
         {{2, 3, unselectedImage, true}, {17, 17, unselectedImage, true}, {5, 9, mark, false}}},
        {"classic check image, selected",
         kOsOtherNt,
         ODS_CHECKED | ODS_SELECTED,
         false,
         true,
         {{2, 3, selectedImage, true}, {17, 17, selectedImage, true}}},
        {"xp check image",
         kOsWinXp,
         ODS_CHECKED,
         false,
         true,
         {{4, 4, unselectedImage, true}, {19, 18, unselectedImage, true}, {9, 9, mark, false}}},
        {"xp check image, selected",
         kOsWinXp,
         ODS_CHECKED | ODS_SELECTED,
         false,
         true,
         {{4, 4, selectedImage, true}, {19, 18, selectedImage, true}}},
    };
    HBITMAP bullet = CreateBitmap(8, 8, 1, 1, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuPlatform::Current().Assume(c.osClass, false);
        SetMenuItemBitmaps(menu.m_hMenu, 11, MF_BYCOMMAND, nullptr, c.bullet ? bullet : nullptr);
        if (c.checkImages) {
            menu.m_checkImages = MakeCheckImages(unselectedImage, selectedImage);
            menu.m_selectedCheckIndex = 1;
            menu.m_unselectedCheckIndex = 1;
        }
        Canvas canvas(kWidth, kHeight);
        Draw(canvas, 0, c.state);
        for (const Pixel& pixel : c.pixels) {
            if (pixel.is) {
                EXPECT_EQ(canvas.At(pixel.x, pixel.y), pixel.colour) << pixel.x << "," << pixel.y;
            } else {
                EXPECT_NE(canvas.At(pixel.x, pixel.y), pixel.colour) << pixel.x << "," << pixel.y;
            }
        }
        if (menu.m_checkImages) ImageList_Destroy(menu.m_checkImages);
        menu.m_checkImages = nullptr;
        menu.m_selectedCheckIndex = menu.m_unselectedCheckIndex = -1;
    }
    SetMenuItemBitmaps(menu.m_hMenu, 11, MF_BYCOMMAND, nullptr, nullptr);
    DeleteObject(bullet);
}

TEST(Marks, XpCheckBoxIsFramedAndFilledInTheHighlightsShades) {
    const COLORREF highlight = RGB(0, 80, 160);
    const COLORREF mark = GetSysColor(COLOR_MENUTEXT);
    for (const bool dot : {false, true}) {
        SCOPED_TRACE(dot ? "dot" : "tick");
        Canvas canvas(30, 30);
        HBITMAP bullet = dot ? CreateBitmap(8, 8, 1, 1, nullptr) : nullptr;
        VantuMenu::DrawCheckXp(canvas.Dc(), RECT{5, 5, 21, 21}, bullet, highlight);
        if (bullet) DeleteObject(bullet);
        const COLORREF fill = RGB(216, 228, 240);
        EXPECT_EQ(canvas.At(5, 5), highlight);
        EXPECT_EQ(canvas.At(20, 20), highlight);
        EXPECT_EQ(canvas.At(20, 5), highlight);
        EXPECT_EQ(canvas.At(6, 6), fill);
        EXPECT_EQ(canvas.At(19, 19), fill);
        EXPECT_EQ(canvas.At(4, 4), RGB(255, 0, 255));  // outside: untouched
        EXPECT_EQ(canvas.At(21, 21), RGB(255, 0, 255));
        // The tick's strokes run from x = 10 to 16 (its last from (16, 9)); the dot fills
        // (10, 9) to (16, 15), right edge excluded.
        EXPECT_EQ(canvas.At(16, 9) == mark, !dot);
        EXPECT_EQ(canvas.At(13, 12), mark);
    }
}

TEST_F(ItemDrawing, ClassicSelectionLeavesThePictureColumnOut) {
    const COLORREF selection = GetSysColor(COLOR_HIGHLIGHT);
    struct Case {
        int position;
        UINT state;
        int firstHighlighted;
    };
    const Case cases[] = {{0, ODS_SELECTED, 0},
                          {1, ODS_SELECTED, 16 + 5},
                          {0, ODS_SELECTED | ODS_CHECKED, 16 + 5},
                          {0, ODS_SELECTED | ODS_GRAYED, 0}};  // disabled items too
    for (const Case& c : cases) {
        Canvas canvas(kWidth, kHeight);
        Draw(canvas, c.position, c.state);
        EXPECT_EQ(canvas.At(c.firstHighlighted, 1), selection) << c.position << " " << c.state;
        if (c.firstHighlighted > 0) {
            EXPECT_NE(canvas.At(c.firstHighlighted - 1, 1), selection);
        }
        EXPECT_EQ(canvas.At(kWidth - 1, kHeight - 1), selection);
    }
}

TEST_F(ItemDrawing, XpLookNeverHighlightsDisabledItems) {
    MenuPlatform::Current().Assume(kOsWinXp, false);
    ASSERT_EQ(GetSysColor(COLOR_HIGHLIGHT), RGB(48, 150, 250));  // the test prefix's
    const COLORREF selection = RGB(192, 223, 253);
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    struct Case {
        UINT state;
        COLORREF background;
    };
    const Case cases[] = {
        {ODS_SELECTED, selection}, {ODS_SELECTED | ODS_GRAYED, window}, {0, window}};
    for (const Case& c : cases) {
        for (int position : {0, 1}) {
            Canvas canvas(kWidth, kHeight);
            Draw(canvas, position, c.state);
            EXPECT_EQ(canvas.At(kWidth - 5, 3), c.background) << c.state << " " << position;
        }
    }
}

TEST_F(ItemDrawing, SeparatorIsAnEtchedLineAcrossTheMiddle) {
    const int height = 10;
    Canvas canvas(kWidth, height);
    Draw(canvas, 2, 0, height);
    EXPECT_EQ(canvas.At(50, height / 2), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(canvas.At(50, height / 2 + 1), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(canvas.At(50, 1), GetSysColor(COLOR_MENU));
    EXPECT_EQ(canvas.At(50, height - 1), GetSysColor(COLOR_MENU));
}

TEST_F(ItemDrawing, DisabledImageItemIsEmbossedInBothLooks) {
    for (const int osClass : {int(kOsOtherNt), int(kOsWinXp)}) {
        MenuPlatform::Current().Assume(osClass, false);
        Canvas canvas(kWidth, kHeight);
        Draw(canvas, 1, ODS_GRAYED);
        const RECT column{0, 0, 24, kHeight};
        EXPECT_GT(CountColour(canvas, column, GetSysColor(COLOR_BTNSHADOW)), 20) << osClass;
        EXPECT_EQ(CountColour(canvas, column, RGB(0, 0, 0)), 0) << osClass;  // not the image
    }
}
