#include "VantuMenu.h"

#include <algorithm>

#include "CodePage.h"
#include "MenuGdi.h"
#include "MenuItemRouting.h"
#include "MenuPlatform.h"
#include "MenuRegistry.h"
#include "SharedImages.h"

namespace {
constexpr UINT kSeparatorByPosition = MF_SEPARATOR | MF_OWNERDRAW | MF_BYPOSITION;  // 0xD00
constexpr UINT kSeparator = MF_SEPARATOR | MF_OWNERDRAW;                            // 0x900
constexpr UINT kPopupByPosition = MF_POPUP | MF_OWNERDRAW | MF_BYPOSITION;          // 0x510
constexpr int kMostPaddingBlanks = 256;

// Draw and measure requests for items of our menus, found through the item's data.
bool HandleMenuItemRequest(UINT message, LPARAM lParam) {
    if (message == WM_DRAWITEM) {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        VantuMenu* menu = menuregistry::OwnerOfItemData(item->itemData);
        if (menu) menu->DrawItem(item);
        return menu != nullptr;
    }
    auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    VantuMenu* menu = menuregistry::OwnerOfItemData(item->itemData);
    if (menu) menu->MeasureItem(item);
    return menu != nullptr;
}

std::wstring MenuStringAt(HMENU menu, int position) {
    wchar_t text[512] = {};
    const int length = GetMenuStringW(menu, position, text, 512, MF_BYPOSITION);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring LabelOf(const std::wstring& text) {
    return text.substr(0, text.find(L'\t'));
}

std::wstring Lowered(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}
}  // namespace

MenuItemRecord::~MenuItemRecord() {
    if (ownImages) ImageList_Destroy(ownImages);
}

VantuMenu::VantuMenu() {
    SetMenuItemHandler(HandleMenuItemRequest);
}

VantuMenu::~VantuMenu() {
    DestroyMenu();
}

void VantuMenu::Attach(HMENU menu) {
    m_hMenu = menu;
    menuregistry::MapHandle(menu, this);
}

BOOL VantuMenu::CreatePopupMenu() {
    DestroyMenu();
    HMENU menu = ::CreatePopupMenu();
    if (menu) Attach(menu);
    return menu != nullptr;
}

BOOL VantuMenu::DestroyMenu() {
    if (m_hMenu) menuregistry::RemovePopupEverywhere(m_hMenu);
    for (auto popup = m_popups.rbegin(); popup != m_popups.rend(); ++popup) {
        menuregistry::RemovePopupOnce(*popup);
        const VantuMenu* object = menuregistry::ObjectOf(*popup);
        std::erase_if(m_loadedSubmenus, [object](const auto& own) { return own.get() == object; });
    }
    m_popups.clear();
    for (const auto& record : m_items) menuregistry::RemoveRecord(record.get());
    m_items.clear();
    if (m_checkImages && !m_checkImagesShared) {
        ImageList_Destroy(m_checkImages);
        m_checkImages = nullptr;
    }
    m_loadedSubmenus.clear();
    m_loaded = false;
    if (!m_hMenu) return FALSE;
    menuregistry::UnmapHandle(m_hMenu);
    const BOOL destroyed = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return destroyed;
}

MenuItemRecord* VantuMenu::NewRecord(const wchar_t* text, UINT flags, UINT_PTR id) {
    auto record = std::make_unique<MenuItemRecord>();
    record->text = text ? text : L"";
    record->flags = flags;
    record->id = id;
    menuregistry::AddRecord(record.get(), this);
    m_items.push_back(std::move(record));
    return m_items.back().get();
}

void VantuMenu::AddPopupHandle(HMENU popup) {
    menuregistry::AddPopup(popup);
    m_popups.push_back(popup);
}

BOOL VantuMenu::AppendItem(const wchar_t* text, UINT flags, UINT_PTR id, int imageId) {
    if (id) {
        flags |= MF_OWNERDRAW;
    } else {
        flags = (flags & MF_BYPOSITION) ? kSeparatorByPosition : kSeparator;
    }
    if (flags & MF_POPUP) AddPopupHandle(reinterpret_cast<HMENU>(id));
    MenuItemRecord* record = NewRecord(text, flags, id);
    const bool command = !(flags & (MF_POPUP | MF_SEPARATOR));
    if (command && imageId < 0) record->sharedImageIndex = GlobalImageIndex(static_cast<UINT>(id));
    if (command && imageId > 0)
        record->sharedImageIndex = ImageFromToolbar(imageId, static_cast<UINT>(id));
    const BOOL appended = AppendMenuW(m_hMenu, flags, id, reinterpret_cast<const wchar_t*>(record));
    if (m_loaded) RestoreBarPopups();
    return appended;
}

BOOL VantuMenu::AppendItem(const GbkString& text, UINT flags, UINT_PTR id, int imageId) {
    return AppendItem(ToWide(text).c_str(), flags, id, imageId);
}

void VantuMenu::RestoreBarPopups() {
    const int count = GetMenuItemCount(m_hMenu);
    int offset = 0;
    for (int position = 0; position < count; ++position) {
        const std::wstring shown = MenuStringAt(m_hMenu, position);
        if (shown.empty()) continue;
        int match = -1;
        for (size_t i = 0; i < m_items.size(); ++i)
            if (m_items[i]->text == shown) match = static_cast<int>(i);
        if (match < 0) continue;
        if (position >= match) offset = position - match;
        break;
    }
    for (size_t i = 0; i < m_items.size() && offset + static_cast<int>(i) < count; ++i) {
        const int position = offset + static_cast<int>(i);
        HMENU popup = GetSubMenu(m_hMenu, position);
        if (!popup) continue;
        m_items[i]->flags = MF_BYPOSITION | MF_POPUP;
        ModifyMenuW(m_hMenu, position, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(popup),
                    m_items[i]->text.c_str());
    }
}

void VantuMenu::AlignShortcutColumn() {
    const MenuFont font;
    const WindowDc dc(MeasuringWindow());
    const Selected selected(dc.Handle(), font.Handle());
    int column = 0;
    for (const auto& record : m_items)
        column = std::max(column, TextWidth(dc.Handle(), LabelOf(record->text) + L" "));
    for (const auto& record : m_items) {
        const size_t tab = record->text.find(L'\t');
        if (tab == std::wstring::npos) continue;
        std::wstring label = record->text.substr(0, tab);
        for (int i = 0; i < kMostPaddingBlanks && TextWidth(dc.Handle(), label) < column; ++i)
            label += L' ';
        record->text = label + record->text.substr(tab);
    }
}

void VantuMenu::MeasureItem(MEASUREITEMSTRUCT* item) {
    if (!item || !menuregistry::OwnerOfItemData(item->itemData)) return;
    const auto* record = reinterpret_cast<const MenuItemRecord*>(item->itemData);
    MenuPlatform& platform = MenuPlatform::Current();
    const bool xpLook = platform.UsesXpLook();
    const int extra = xpLook && kXpImagesWith3dEffect ? 7 : 4;
    const int barHeight = GetSystemMetrics(SM_CYMENU);
    if (record->flags & MF_SEPARATOR) {
        item->itemWidth = 0;
        item->itemHeight = static_cast<UINT>(std::max((m_imageHeight + extra) / 2, barHeight / 2));
        return;
    }
    const MenuFont font;
    const WindowDc dc(MeasuringWindow());
    const Selected selected(dc.Handle(), platform.HasNewShell() ? font.Handle() : nullptr);
    const int textWidth = TextWidth(dc.Handle(), record->text);
    const int width =
        xpLook ? textWidth + m_imageWidth + extra + 8 : textWidth + 2 * m_imageWidth + 1;
    item->itemWidth = static_cast<UINT>(width);
    item->itemHeight = static_cast<UINT>(std::max(m_imageHeight + extra, barHeight));
}

LRESULT VantuMenu::HandleMenuChar(UINT ch, UINT flags, VantuMenu* menu) {
    if (!menu || !(flags & MF_POPUP)) return 0;
    const std::wstring pattern = Lowered(std::wstring{L'&', static_cast<wchar_t>(ch)});
    if (GetMenuItemCount(menu->m_hMenu) != static_cast<int>(menu->m_items.size()))
        menu->ResyncItems();
    for (size_t position = 0; position < menu->m_items.size(); ++position)
        if (Lowered(menu->m_items[position]->text).find(pattern) != std::wstring::npos)
            return MAKELRESULT(position, MNC_EXECUTE);
    return 0;
}

MenuItemRecord* VantuMenu::TakeUnmarked(UINT_PTR id, UINT kind) {
    for (const auto& record : m_items) {
        const UINT recordKind = record->flags & (MF_POPUP | MF_SEPARATOR);
        if (!record->syncMark && record->id == id && recordKind == kind) {
            record->syncMark = true;
            return record.get();
        }
    }
    return nullptr;
}

void VantuMenu::ResyncItems() {
    for (const auto& record : m_items) record->syncMark = false;
    std::vector<MenuItemRecord*> order;
    std::vector<std::unique_ptr<MenuItemRecord>> made;
    auto make = [&](const std::wstring& text, UINT flags, UINT_PTR id) {
        auto record = std::make_unique<MenuItemRecord>();
        record->text = text;
        record->flags = flags;
        record->id = id;
        record->syncMark = true;
        menuregistry::AddRecord(record.get(), this);
        made.push_back(std::move(record));
        return made.back().get();
    };
    auto modify = [this](int position, const MenuItemRecord* record) {
        const bool drawn = record->flags & MF_OWNERDRAW;
        ModifyMenuW(m_hMenu, position, record->flags | MF_BYPOSITION, record->id,
                    drawn ? reinterpret_cast<const wchar_t*>(record) : record->text.c_str());
    };
    const int count = GetMenuItemCount(m_hMenu);
    for (int position = 0; position < count; ++position) {
        const UINT state = GetMenuState(m_hMenu, position, MF_BYPOSITION);
        const std::wstring shown = MenuStringAt(m_hMenu, position);
        MenuItemRecord* record = nullptr;
        if (state & MF_POPUP) {
            HMENU popup = GetSubMenu(m_hMenu, position);
            const auto id = reinterpret_cast<UINT_PTR>(popup);
            record = TakeUnmarked(id, MF_POPUP);
            if (record && !shown.empty()) record->text = shown;
            if (!record) {
                record = make(shown, (LOBYTE(state) & ~MF_POPUP) | kPopupByPosition, id);
                AddPopupHandle(popup);
                modify(position, record);
            }
        } else if (state & MF_SEPARATOR) {
            record = TakeUnmarked(0, MF_SEPARATOR);
            if (!record) record = make(L"", state | kSeparatorByPosition, 0);
            modify(position, record);
        } else {
            const UINT id = GetMenuItemID(m_hMenu, position);
            record = TakeUnmarked(id, 0);
            if (record && !shown.empty()) record->text = shown;
            if (record) record->flags = state | MF_BYPOSITION | MF_OWNERDRAW;
            if (!record) record = make(shown, state | MF_BYPOSITION | MF_OWNERDRAW, id);
            modify(position, record);
        }
        order.push_back(record);
    }
    // Matched and new records in position order; the records no item has any more go.
    std::vector<std::unique_ptr<MenuItemRecord>> synced;
    for (MenuItemRecord* record : order) {
        auto own = [record](const auto& held) { return held.get() == record; };
        auto found = std::find_if(m_items.begin(), m_items.end(), own);
        auto& from = found != m_items.end() ? *found : *std::find_if(made.begin(), made.end(), own);
        synced.push_back(std::move(from));
    }
    for (const auto& left : m_items)
        if (left) menuregistry::RemoveRecord(left.get());
    m_items = std::move(synced);
}

VantuMenu* VantuMenu::GetPopup(int position) const {
    return menuregistry::ObjectOf(GetSubMenu(m_hMenu, position));
}

BOOL VantuMenu::IsVantuMenu(const VantuMenu* menu) {
    return menu && menuregistry::HoldsPopup(menu->m_hMenu);
}

BOOL VantuMenu::IsVantuMenuHandle(HMENU menu) {
    return menuregistry::HoldsPopup(menu);
}

VantuMenu* VantuMenu::FromHandle(HMENU menu) {
    return menuregistry::ObjectOf(menu);
}

int VantuMenu::GlobalImageIndex(UINT commandId) {
    const auto& ids = sharedimages::Ids();
    const auto found = std::find(ids.begin(), ids.end(), commandId);
    return found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
}
