// Owner-drawn menu items (ODT_MENU) reach the window that tracks the menu as WM_DRAWITEM and
// WM_MEASUREITEM. A menu class that draws its own items installs one handler, which finds
// the menu object through the item's data; the windows pass those requests on with
// RouteMenuItem.
#pragma once

#include <windows.h>

// Draws or measures the item when its data belongs to a menu object; false otherwise.
using MenuItemHandler = bool (*)(UINT message, LPARAM lParam);

void SetMenuItemHandler(MenuItemHandler handler);

// For WM_DRAWITEM and WM_MEASUREITEM about a menu item: true (result TRUE) when handled.
bool RouteMenuItem(UINT message, LPARAM lParam, LRESULT& result);
