// The owner-drawn menus' process-wide bookkeeping: which popup handles belong to such menus,
// which object stands for a menu handle, and which object an item's data belongs to.
// All of it is used on the user-interface thread only.
#pragma once

#include <windows.h>

class VantuMenu;
struct MenuItemRecord;

namespace menuregistry {

// Popup handles appended to any menu of ours; a handle appended twice is held twice.
void AddPopup(HMENU popup);
void RemovePopupOnce(HMENU popup);
void RemovePopupEverywhere(HMENU popup);
bool HoldsPopup(HMENU popup);
int PopupCount();

// The object that holds a menu handle.
void MapHandle(HMENU menu, VantuMenu* object);
void UnmapHandle(HMENU menu);
VantuMenu* ObjectOf(HMENU menu);

// The menu whose item records carry which data (the record's address).
void AddRecord(const MenuItemRecord* record, VantuMenu* owner);
void RemoveRecord(const MenuItemRecord* record);
VantuMenu* OwnerOfItemData(ULONG_PTR itemData);

}  // namespace menuregistry
