// Loading a menu from a menu resource: popups become submenus of their own, the bar level is
// turned back into items the system draws.
#include <vector>

#include "MenuRegistry.h"
#include "MenuResources.h"
#include "MenuTemplate.h"
#include "VantuMenu.h"

BOOL VantuMenu::LoadMenu(UINT id) {
    return LoadMenu(MAKEINTRESOURCEW(id));
}

BOOL VantuMenu::LoadMenu(const wchar_t* name) {
    const ResourceBytes resource = FindResourceBytes(name, RT_MENU);
    if (!resource.data) return FALSE;
    DestroyMenu();
    HMENU menu = CreateMenu();
    if (!menu) return FALSE;
    Attach(menu);
    BuildFromTemplate(resource.data, resource.size);
    TurnBarIntoPlainItems();
    m_loaded = true;
    return TRUE;
}

void VantuMenu::BuildFromTemplate(const BYTE* data, DWORD size) {
    struct Level {
        VantuMenu* menu;
        bool ending;
    };
    std::vector<Level> levels{{this, false}};
    MenuTemplateReader reader(data, size);
    MenuTemplateItem item;
    while (!levels.empty() && reader.Next(item)) {
        const UINT flags = item.flags & ~MF_END;
        VantuMenu* top = levels.back().menu;
        if (item.flags & MF_POPUP) {
            if (item.flags & MF_END) levels.back().ending = true;
            auto submenu = std::make_unique<VantuMenu>();
            submenu->m_checkImages = m_checkImages;
            submenu->m_selectedCheckIndex = m_selectedCheckIndex;
            submenu->m_unselectedCheckIndex = m_unselectedCheckIndex;
            submenu->m_checkImagesShared = true;
            submenu->Attach(::CreatePopupMenu());
            top->AppendItem(item.text.c_str(), flags, reinterpret_cast<UINT_PTR>(submenu->m_hMenu));
            levels.push_back({submenu.get(), false});
            top->m_loadedSubmenus.push_back(std::move(submenu));
            continue;
        }
        top->AppendItem(item.text.c_str(), flags, item.id);
        if (item.flags & MF_END) levels.back().ending = true;
        while (!levels.empty() && levels.back().ending) {
            levels.back().menu->AlignShortcutColumn();
            levels.pop_back();
        }
    }
}

void VantuMenu::TurnBarIntoPlainItems() {
    for (size_t position = 0; position < m_items.size(); ++position) {
        MenuItemRecord& record = *m_items[position];
        record.flags = MF_BYPOSITION | (record.flags & MF_POPUP ? MF_POPUP : MF_STRING);
        ModifyMenuW(m_hMenu, static_cast<UINT>(position), record.flags, record.id,
                    record.text.c_str());
    }
}
