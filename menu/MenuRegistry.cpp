#include "MenuRegistry.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {
// Function-local statics: usable from other objects' static construction and destruction.
std::vector<HMENU>& Popups() {
    static std::vector<HMENU> popups;
    return popups;
}

std::unordered_map<HMENU, VantuMenu*>& Objects() {
    static std::unordered_map<HMENU, VantuMenu*> objects;
    return objects;
}

std::unordered_map<ULONG_PTR, VantuMenu*>& RecordOwners() {
    static std::unordered_map<ULONG_PTR, VantuMenu*> owners;
    return owners;
}
}  // namespace

namespace menuregistry {

void AddPopup(HMENU popup) {
    Popups().push_back(popup);
}

void RemovePopupOnce(HMENU popup) {
    auto& popups = Popups();
    const auto found = std::find(popups.begin(), popups.end(), popup);
    if (found != popups.end()) popups.erase(found);
}

void RemovePopupEverywhere(HMENU popup) {
    std::erase(Popups(), popup);
}

bool HoldsPopup(HMENU popup) {
    return popup && std::find(Popups().begin(), Popups().end(), popup) != Popups().end();
}

int PopupCount() {
    return static_cast<int>(Popups().size());
}

void MapHandle(HMENU menu, VantuMenu* object) {
    if (menu) Objects()[menu] = object;
}

void UnmapHandle(HMENU menu) {
    Objects().erase(menu);
}

VantuMenu* ObjectOf(HMENU menu) {
    const auto found = Objects().find(menu);
    return found == Objects().end() ? nullptr : found->second;
}

void AddRecord(const MenuItemRecord* record, VantuMenu* owner) {
    RecordOwners()[reinterpret_cast<ULONG_PTR>(record)] = owner;
}

void RemoveRecord(const MenuItemRecord* record) {
    RecordOwners().erase(reinterpret_cast<ULONG_PTR>(record));
}

VantuMenu* OwnerOfItemData(ULONG_PTR itemData) {
    const auto found = RecordOwners().find(itemData);
    return found == RecordOwners().end() ? nullptr : found->second;
}

}  // namespace menuregistry
