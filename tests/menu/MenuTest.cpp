// The menu's bookkeeping on real menus: OS classes, loading a resource, the shortcut column,
// the registries, measuring, menu keys, items added behind its back, and images.
#include <gtest/gtest.h>
#include <windows.h>

#include "Canvas.h"
#include "MenuGdi.h"
#include "MenuPlatform.h"
#include "SharedImages.h"
#include "TestMenuIds.h"
#include "VantuMenu.h"

namespace {
constexpr DWORD k9x = 0x80000000;

struct Look {
    const char* name;
    int osClass;
};
const Look kClassic{"classic", kOsOtherNt};
const Look kXp{"xp", kOsWinXp};

void UseLook(const Look& look) {
    MenuPlatform::Current().Assume(look.osClass, false);
}

int MenuFontWidth(const std::wstring& text) {
    const MenuFont font;
    const WindowDc dc(MeasuringWindow());
    const Selected selected(dc.Handle(), font.Handle());
    SIZE size{};
    GetTextExtentPoint32W(dc.Handle(), text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

MENUITEMINFOW ItemInfo(HMENU menu, int position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_STATE | MIIM_SUBMENU;
    GetMenuItemInfoW(menu, position, TRUE, &info);
    return info;
}

std::wstring ShownText(HMENU menu, int position) {
    wchar_t text[100] = {};
    GetMenuStringW(menu, position, text, 100, MF_BYPOSITION);
    return text;
}

class LoadedMenu : public testing::Test {
protected:
    void SetUp() override {
        UseLook(kClassic);
        ASSERT_TRUE(menu.LoadMenu(IDM_TEST));
        file = menu.GetPopup(0);
        view = menu.GetPopup(1);
        ASSERT_NE(file, nullptr);
        ASSERT_NE(view, nullptr);
        recent = file->GetPopup(3);
        ASSERT_NE(recent, nullptr);
    }
    VantuMenu menu;
    VantuMenu* file = nullptr;
    VantuMenu* view = nullptr;
    VantuMenu* recent = nullptr;
};
}  // namespace

TEST(OsClass, EveryRowOfTheVersionTable) {
    struct Row {
        DWORD version;
        bool detail;
        DWORD major, minor;
        int expected;
    };
    const Row rows[] = {
        {k9x | 3, true, 3, 95, kOsOld9x},
        {k9x | 0x0A04, true, 4, 10, kOsWin98},
        {k9x | 0x5A04, true, 4, 90, kOsWinMe},
        {k9x | 4, true, 4, 0, kOsOther9x},
        {k9x | 4, false, 0, 0, kOsOther9x},
        {k9x | 3, false, 0, 0, kOsOld9x},
        {4, true, 4, 0, kOsNt4},
        {5, true, 5, 0, kOsWin2000},
        {0x0105, true, 5, 1, kOsWinXp},
        {0x0205, true, 5, 2, kOsOtherNt},
        {0x0106, true, 6, 1, kOsOtherNt},
        {0x0105, false, 0, 0, kOsOtherNt},
    };
    for (const Row& row : rows) {
        OSVERSIONINFOW info{};
        info.dwMajorVersion = row.major;
        info.dwMinorVersion = row.minor;
        EXPECT_EQ(OsClassOf(row.version, row.detail ? &info : nullptr), row.expected)
            << std::hex << row.version << " " << row.major << "." << row.minor;
    }
}

TEST(OsClass, XpLookOnlyOnXpWithoutTheClassicTheme) {
    for (int osClass = kOsOld9x; osClass <= kOsWinXp; ++osClass)
        for (const bool classic : {false, true})
            EXPECT_EQ(UsesXpLookFor(osClass, classic), osClass == kOsWinXp && !classic)
                << osClass << " " << classic;
}

TEST(OsClass, ClassicThemeFileInAnyFolderAndLetterCase) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme", true},
        {L"d:\\themes\\WINDOWS CLASSIC.THEME", true},
        {L"Windows Classic.theme", true},
        {L"C:\\WINDOWS\\Resources\\Themes\\Luna.theme", false},
        {L"Classic.theme", false},
        {L"Windows Classic.theme.bak", false},
        {L"", false},
    };
    for (const auto& [value, classic] : cases) EXPECT_EQ(IsClassicThemeName(value), classic);
}

TEST_F(LoadedMenu, BarItemsArePlainAndPopupItemsCarryTheirRecords) {
    ASSERT_EQ(GetMenuItemCount(menu.m_hMenu), 2);
    EXPECT_EQ(ShownText(menu.m_hMenu, 0), L"&File");
    EXPECT_EQ(ShownText(menu.m_hMenu, 1), L"&View 视图");
    for (int position = 0; position < 2; ++position) {
        EXPECT_FALSE(ItemInfo(menu.m_hMenu, position).fType & MFT_OWNERDRAW);
        EXPECT_EQ(menu.Items()[position]->flags, UINT(MF_BYPOSITION | MF_POPUP));
    }
    for (VantuMenu* popup : {file, view, recent}) {
        const int count = GetMenuItemCount(popup->m_hMenu);
        ASSERT_EQ(count, static_cast<int>(popup->Items().size()));
        for (int position = 0; position < count; ++position) {
            const MENUITEMINFOW info = ItemInfo(popup->m_hMenu, position);
            EXPECT_TRUE(info.fType & MFT_OWNERDRAW) << position;
            EXPECT_EQ(info.dwItemData, reinterpret_cast<ULONG_PTR>(popup->Items()[position].get()));
        }
    }
    EXPECT_EQ(GetSubMenu(file->m_hMenu, 3), recent->m_hMenu);
    EXPECT_EQ(file->Items()[2]->flags, UINT(MF_SEPARATOR | MF_OWNERDRAW));
    EXPECT_EQ(file->Items()[4]->id, UINT_PTR(ID_EXIT));
    EXPECT_TRUE(ItemInfo(view->m_hMenu, 0).fState & MFS_CHECKED);
    EXPECT_TRUE(ItemInfo(view->m_hMenu, 1).fState & MFS_GRAYED);
    EXPECT_EQ(view->Items()[3]->text, L"中文 &Zoom");
}

TEST_F(LoadedMenu, ShortcutsStartAtTheWidestLabelPlusOneBlank) {
    for (VantuMenu* popup : {file, view}) {
        int column = 0;
        for (const auto& record : popup->Items()) {
            std::wstring label = record->text.substr(0, record->text.find(L'\t'));
            while (!label.empty() && label.back() == L' ') label.pop_back();
            column = std::max(column, MenuFontWidth(label + L" "));
        }
        for (const auto& record : popup->Items()) {
            const size_t tab = record->text.find(L'\t');
            if (tab == std::wstring::npos) continue;
            const std::wstring label = record->text.substr(0, tab);
            EXPECT_GE(MenuFontWidth(label), column) << label.c_str();
            EXPECT_LT(MenuFontWidth(label.substr(0, label.size() - 1)), column);
        }
    }
    EXPECT_EQ(file->Items()[1]->text.substr(0, 6), L"&Save ");
    EXPECT_NE(file->Items()[1]->text.find(L"\tCtrl+S"), std::wstring::npos);
}

TEST_F(LoadedMenu, RegistryHoldsEverySubmenuUntilDestroyed) {
    const HMENU submenus[] = {file->m_hMenu, view->m_hMenu, recent->m_hMenu};
    for (HMENU submenu : submenus) EXPECT_TRUE(VantuMenu::IsVantuMenuHandle(submenu));
    EXPECT_TRUE(VantuMenu::IsVantuMenu(recent));
    EXPECT_FALSE(VantuMenu::IsVantuMenuHandle(menu.m_hMenu));  // the bar is no popup
    EXPECT_EQ(VantuMenu::FromHandle(view->m_hMenu), view);

    EXPECT_TRUE(menu.DestroyMenu());
    for (HMENU submenu : submenus) {
        EXPECT_FALSE(VantuMenu::IsVantuMenuHandle(submenu));
        EXPECT_FALSE(IsMenu(submenu));
        EXPECT_EQ(VantuMenu::FromHandle(submenu), nullptr);
    }
    EXPECT_TRUE(menu.Items().empty());
    EXPECT_TRUE(menu.Popups().empty());
    EXPECT_EQ(menu.m_hMenu, nullptr);
}

TEST_F(LoadedMenu, MenuKeysFindTheFirstItemWithThatLetter) {
    struct Case {
        VantuMenu* popup;
        UINT ch;
        UINT flags;
        LRESULT expected;
    };
    const Case cases[] = {
        {file, 's', MF_POPUP, 0x20001},
        {file, 'S', MF_POPUP, 0x20001},
        {file, 'x', MF_POPUP, 0x20004},
        {file, 'q', MF_POPUP, 0},
        {file, 's', 0, 0},
        {nullptr, 's', MF_POPUP, 0},
        {view, 's', MF_POPUP, 0x20001},
        {view, 'Z', MF_POPUP, 0x20003},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VantuMenu::HandleMenuChar(c.ch, c.flags, c.popup), c.expected)
            << char(c.ch) << " " << c.flags;
}

TEST_F(LoadedMenu, ItemsAddedBehindItsBackAreMatchedAgain) {
    const MenuItemRecord* open = file->Items()[0].get();
    const MenuItemRecord* exit = file->Items()[4].get();
    HMENU extra = CreatePopupMenu();
    AppendMenuW(file->m_hMenu, MF_STRING, 999, L"&Quit");
    AppendMenuW(file->m_hMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file->m_hMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(extra), L"&More");
    DeleteMenu(file->m_hMenu, 0, MF_BYPOSITION);  // "&Open" goes

    EXPECT_EQ(VantuMenu::HandleMenuChar('q', MF_POPUP, file), 0x20004);
    ASSERT_EQ(file->Items().size(), 7u);
    EXPECT_EQ(file->Items()[3].get(), exit);  // a matched record is kept
    for (const auto& record : file->Items()) EXPECT_NE(record.get(), open);
    // Matched records keep their flags; new ones are drawn, by position.
    const UINT expectedFlags[] = {0x500, 0x900, 0x110, 0x500, 0x500, 0xD00, 0x510};
    for (int position = 0; position < 7; ++position) {
        const auto& record = *file->Items()[position];
        EXPECT_EQ(record.flags & 0xF10, expectedFlags[position]) << position;
        EXPECT_EQ(ItemInfo(file->m_hMenu, position).dwItemData,
                  reinterpret_cast<ULONG_PTR>(&record));
    }
    EXPECT_EQ(file->Items()[4]->text, L"&Quit");
    EXPECT_EQ(file->Items()[6]->text, L"&More");
    EXPECT_TRUE(VantuMenu::IsVantuMenuHandle(extra));
}

TEST(AppendItem, SeparatorsByPositionAndByCommand) {
    VantuMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    EXPECT_TRUE(menu.AppendItem(L"", MF_BYPOSITION, 0));
    EXPECT_TRUE(menu.AppendItem(L"", 0, 0));
    EXPECT_TRUE(menu.AppendItem(GbkString("打开"), MF_CHECKED, 7));
    EXPECT_EQ(menu.Items()[0]->flags, 0xD00u);
    EXPECT_EQ(menu.Items()[1]->flags, 0x900u);
    EXPECT_EQ(menu.Items()[2]->flags, UINT(MF_CHECKED | MF_OWNERDRAW));
    EXPECT_EQ(menu.Items()[2]->text, L"打开");
}

TEST(Measuring, SeparatorsAndItemsInBothLooks) {
    struct Case {
        Look look;
        int extra;            // beside the image height
        int widthBesideText;  // XP: image width + extra + 8; classic: 2 * image width + 1
    };
    const Case cases[] = {{kClassic, 4, 33}, {kXp, 7, 31}};
    const int bar = GetSystemMetrics(SM_CYMENU);
    for (const Case& c : cases) {
        UseLook(c.look);
        VantuMenu menu;
        ASSERT_TRUE(menu.CreatePopupMenu());
        menu.AppendItem(L"", 0, 0);
        menu.AppendItem(L"&Save\tCtrl+S", 0, 5);
        MEASUREITEMSTRUCT separator{
            ODT_MENU, 0, 0, 0, 0, reinterpret_cast<ULONG_PTR>(menu.Items()[0].get())};
        menu.MeasureItem(&separator);
        EXPECT_EQ(separator.itemWidth, 0u);
        EXPECT_EQ(int(separator.itemHeight), std::max((15 + c.extra) / 2, bar / 2)) << c.look.name;
        EXPECT_GE(int(separator.itemHeight) * 2 + 1, bar);

        MEASUREITEMSTRUCT item{ODT_MENU, 0, 5,
                               0,        0, reinterpret_cast<ULONG_PTR>(menu.Items()[1].get())};
        menu.MeasureItem(&item);
        EXPECT_EQ(int(item.itemWidth), MenuFontWidth(L"&Save\tCtrl+S") + c.widthBesideText)
            << c.look.name;
        EXPECT_EQ(int(item.itemHeight), std::max(15 + c.extra, bar));
    }
}

TEST(Images, ToolbarImagesGoToTheSharedListOnceOrAsTriples) {
    struct Case {
        Look look;
        UINT command;
        COLORREF centre;  // the toolbar button's colour (the separator takes no image)
        int images;       // entries in the shared table
        COLORREF faded;   // the second of a triple's centre
    };
    const Case cases[] = {{kClassic, ID_BLACK, RGB(0, 0, 0), 1, 0},
                          {kXp, ID_RED, RGB(255, 0, 0), 3, RGB(255, 76, 76)}};
    for (const Case& c : cases) {
        UseLook(c.look);
        VantuMenu menu;
        ASSERT_TRUE(menu.CreatePopupMenu());
        const size_t before = sharedimages::Ids().size();
        ASSERT_TRUE(menu.AppendItem(L"&Cut", 0, c.command, IDR_TOOLBAR));
        const int index = menu.Items()[0]->sharedImageIndex;
        EXPECT_EQ(index, static_cast<int>(before)) << c.look.name;
        EXPECT_EQ(VantuMenu::GlobalImageIndex(c.command), index);
        EXPECT_EQ(sharedimages::Ids().size(), before + c.images);
        EXPECT_EQ(sharedimages::StartsTriple(index), c.images == 3);

        Canvas canvas(16 * 3, 15);
        for (int i = 0; i < c.images; ++i)
            ImageList_Draw(sharedimages::List(), index + i, canvas.Dc(), 16 * i, 0,
                           ILD_TRANSPARENT);
        EXPECT_EQ(canvas.At(7, 7), c.centre);
        EXPECT_EQ(canvas.At(0, 0), RGB(255, 0, 255));  // the face around it is masked
        if (c.images == 3) {
            EXPECT_EQ(canvas.At(16 + 7, 7), c.faded);
            EXPECT_EQ(canvas.At(32 + 7, 7), GetSysColor(COLOR_BTNSHADOW));
        }
        // Adding the same command again replaces its images in place.
        EXPECT_EQ(menu.AddSharedImage(sharedimages::List(), index, c.command), index);
        EXPECT_EQ(sharedimages::Ids().size(), before + c.images);
        // Another item of that command finds its image without a toolbar.
        menu.AppendItem(L"C&ut again", 0, c.command);
        EXPECT_EQ(menu.Items()[1]->sharedImageIndex, index);
    }
    UseLook(kClassic);
}
