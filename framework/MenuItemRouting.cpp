#include "MenuItemRouting.h"

namespace {
MenuItemHandler g_handler = nullptr;

bool IsMenuItemRequest(UINT message, LPARAM lParam) {
    if (message == WM_DRAWITEM)
        return reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->CtlType == ODT_MENU;
    if (message == WM_MEASUREITEM)
        return reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam)->CtlType == ODT_MENU;
    return false;
}
}  // namespace

void SetMenuItemHandler(MenuItemHandler handler) {
    g_handler = handler;
}

bool RouteMenuItem(UINT message, LPARAM lParam, LRESULT& result) {
    if (!g_handler || !lParam || !IsMenuItemRequest(message, lParam)) return false;
    if (!g_handler(message, lParam)) return false;
    result = TRUE;
    return true;
}
