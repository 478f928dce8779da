// The generated icons and cursor, read back by the system's own loader.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "TestFiles.h"

namespace {

struct DirectoryEntry {
    int type = 0;  // 1 icon, 2 cursor
    int width = 0;
    int height = 0;
    int bitsOrHotY = 0;  // bits per pixel of an icon image, hot spot y of a cursor image
};

// The images listed in an .ico/.cur file's directory.
std::vector<DirectoryEntry> ReadDirectory(const std::vector<unsigned char>& f) {
    std::vector<DirectoryEntry> entries;
    if (f.size() < 6) return entries;
    const int type = f[2] | (f[3] << 8);
    const int count = f[4] | (f[5] << 8);
    for (int k = 0; k < count && 6 + 16 * (k + 1) <= static_cast<int>(f.size()); ++k) {
        const unsigned char* e = f.data() + 6 + 16 * k;
        entries.push_back({type, e[0] ? e[0] : 256, e[1] ? e[1] : 256, e[6] | (e[7] << 8)});
    }
    return entries;
}

struct IconFacts {
    bool isIcon = false;
    int width = 0;
    int height = 0;
    POINT hotSpot{};
    std::vector<bool> transparent;  // AND mask, row by row from the top
};

IconFacts Inspect(HICON icon) {
    IconFacts facts;
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return facts;
    facts.isIcon = info.fIcon != FALSE;
    facts.hotSpot = {static_cast<LONG>(info.xHotspot), static_cast<LONG>(info.yHotspot)};
    BITMAP mask{};
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    facts.width = mask.bmWidth;
    // A monochrome image keeps its colour bits under the mask in one bitmap of double height.
    facts.height = info.hbmColor ? mask.bmHeight : mask.bmHeight / 2;

    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } bmi{};
    bmi.header.biSize = sizeof bmi.header;
    bmi.header.biWidth = facts.width;
    bmi.header.biHeight = -mask.bmHeight;  // top-down
    bmi.header.biPlanes = 1;
    bmi.header.biBitCount = 1;
    const int stride = ((facts.width + 31) / 32) * 4;
    std::vector<unsigned char> bits(static_cast<size_t>(stride) * mask.bmHeight);
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, info.hbmMask, 0, mask.bmHeight, bits.data(),
                               reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows == mask.bmHeight) {
        for (int y = 0; y < facts.height; ++y) {
            for (int x = 0; x < facts.width; ++x) {
                facts.transparent.push_back((bits[y * stride + x / 8] >> (7 - x % 8)) & 1);
            }
        }
    }
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return facts;
}

struct Rgb {
    int r, g, b;
};

// The icon drawn by the system over a plain background, row by row from the top.
std::vector<Rgb> DrawOver(HICON icon, int size, Rgb background) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = size;
    bmi.bmiHeader.biHeight = -size;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<Rgb> pixels;
    if (!dib) return pixels;
    auto* px = static_cast<std::uint32_t*>(bits);
    for (int i = 0; i < size * size; ++i) {
        px[i] =
            static_cast<std::uint32_t>(background.b | (background.g << 8) | (background.r << 16));
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, dib);
    const bool drawn = DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL) != FALSE;
    GdiFlush();
    if (drawn) {
        for (int i = 0; i < size * size; ++i) {
            pixels.push_back({static_cast<int>((px[i] >> 16) & 0xFF),
                              static_cast<int>((px[i] >> 8) & 0xFF),
                              static_cast<int>(px[i] & 0xFF)});
        }
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(dib);
    return pixels;
}

template <typename Pred>
int CountPixels(const std::vector<Rgb>& pixels, Pred pred) {
    int n = 0;
    for (const Rgb& p : pixels) n += pred(p) ? 1 : 0;
    return n;
}

bool IsWhite(const Rgb& p) {
    return p.r == 255 && p.g == 255 && p.b == 255;
}

HICON LoadIconFile(const wchar_t* name, int size) {
    return static_cast<HICON>(LoadImageW(nullptr, skintest::ArtPath(name).c_str(), IMAGE_ICON, size,
                                         size, LR_LOADFROMFILE));
}

TEST(ArtFiles, MainIconIs32BitWithAlphaAndHasASmallImage) {
    const auto dir = ReadDirectory(skintest::ReadWholeFile(skintest::ArtPath(L"main.ico")));
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir[0].type, 1);
    bool has32 = false, has16 = false;
    for (const auto& e : dir) {
        has32 |= e.width == 32 && e.height == 32 && e.bitsOrHotY == 32;
        has16 |= e.width == 16 && e.height == 16;
    }
    EXPECT_TRUE(has32);
    EXPECT_TRUE(has16);

    for (int size : {32, 16}) {
        SCOPED_TRACE(size);
        HICON icon = LoadIconFile(L"main.ico", size);
        ASSERT_NE(icon, nullptr);
        const IconFacts facts = Inspect(icon);
        EXPECT_TRUE(facts.isIcon);
        EXPECT_EQ(facts.width, size);
        EXPECT_EQ(facts.height, size);
        const auto pixels = DrawOver(icon, size, {255, 255, 255});
        ASSERT_EQ(pixels.size(), static_cast<size_t>(size * size));
        EXPECT_TRUE(IsWhite(pixels.front()) && IsWhite(pixels.back())) << "corners not clear";
        const int blue = CountPixels(pixels, [](const Rgb& p) { return p.b > p.r + 60; });
        EXPECT_GT(blue, size * size / 8) << "no blue arrows to be seen";
        // Smooth edges: alpha blending leaves pixels between the arrow and the background.
        const int blended =
            CountPixels(pixels, [](const Rgb& p) { return !IsWhite(p) && p.r > 120 && p.b > p.r; });
        EXPECT_GT(blended, 0);
        DestroyIcon(icon);
    }
}

TEST(ArtFiles, ButtonIconsAre24By24With24Bits) {
    struct Case {
        const wchar_t* name;
        bool (*inColour)(const Rgb&);
    } cases[] = {
        {L"start.ico", [](const Rgb& p) { return p.g > p.r + 50 && p.g > p.b + 50; }},
        {L"stop.ico", [](const Rgb& p) { return p.r > p.g + 80 && p.r > p.b + 80; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<const void*>(c.name));
        const auto dir = ReadDirectory(skintest::ReadWholeFile(skintest::ArtPath(c.name)));
        ASSERT_EQ(dir.size(), 1u);
        EXPECT_EQ(dir[0].type, 1);
        EXPECT_EQ(dir[0].width, 24);
        EXPECT_EQ(dir[0].height, 24);
        EXPECT_EQ(dir[0].bitsOrHotY, 24);

        HICON icon = LoadIconFile(c.name, 0);  // 0: the file's own size
        ASSERT_NE(icon, nullptr);
        const IconFacts facts = Inspect(icon);
        EXPECT_EQ(facts.width, 24);
        EXPECT_EQ(facts.height, 24);
        ASSERT_EQ(facts.transparent.size(), 24u * 24u);
        EXPECT_TRUE(facts.transparent.front()) << "the corner should show the button face";
        EXPECT_FALSE(facts.transparent[12 * 24 + 12]) << "the middle should be drawn";

        const auto pixels = DrawOver(icon, 24, {255, 255, 255});
        ASSERT_EQ(pixels.size(), 24u * 24u);
        EXPECT_TRUE(IsWhite(pixels.front()));
        EXPECT_GT(CountPixels(pixels, c.inColour), 60);
        DestroyIcon(icon);
    }
}

TEST(ArtFiles, HandCursorPointsWithItsFingerTip) {
    const auto dir = ReadDirectory(skintest::ReadWholeFile(skintest::ArtPath(L"hand.cur")));
    ASSERT_EQ(dir.size(), 1u);
    EXPECT_EQ(dir[0].type, 2);

    auto cursor = static_cast<HCURSOR>(LoadImageW(nullptr, skintest::ArtPath(L"hand.cur").c_str(),
                                                  IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE));
    ASSERT_NE(cursor, nullptr);
    const IconFacts facts = Inspect(cursor);
    EXPECT_FALSE(facts.isIcon);
    EXPECT_EQ(facts.width, 32);
    EXPECT_EQ(facts.height, 32);
    ASSERT_EQ(facts.transparent.size(), 32u * 32u);

    // The hot spot is a drawn pixel with nothing drawn above it: the tip of the finger.
    const POINT hot = facts.hotSpot;
    ASSERT_GE(hot.x, 0);
    ASSERT_LT(hot.x, 32);
    ASSERT_GE(hot.y, 0);
    ASSERT_LT(hot.y, 32);
    EXPECT_FALSE(facts.transparent[hot.y * 32 + hot.x]);
    for (int y = 0; y < hot.y; ++y) {
        for (int x = 0; x < 32; ++x) EXPECT_TRUE(facts.transparent[y * 32 + x]) << x << "," << y;
    }
    EXPECT_LT(hot.x, 16) << "the finger points up from the left half of the hand";

    // A white hand with a black outline, readable on any background.
    const auto pixels = DrawOver(cursor, 32, {128, 128, 128});
    ASSERT_EQ(pixels.size(), 32u * 32u);
    EXPECT_GT(CountPixels(pixels, [](const Rgb& p) { return p.r + p.g + p.b == 0; }), 40);
    EXPECT_GT(CountPixels(pixels, IsWhite), 100);
    DestroyCursor(cursor);
}

}  // namespace
