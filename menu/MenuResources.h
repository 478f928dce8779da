// Resources the menu is made from: menu templates, toolbars and bitmaps, looked for in the
// module that holds this code and then in the executable.
#pragma once

#include <windows.h>

struct ResourceBytes {
    HMODULE module = nullptr;
    const BYTE* data = nullptr;
    DWORD size = 0;
};

ResourceBytes FindResourceBytes(const wchar_t* name, const wchar_t* type);

// Image index of a command's button in toolbar resource `toolbarId` (buttons count, separators
// do not); 0 when the toolbar or the command is not there.
int ToolbarButtonImage(int toolbarId, UINT commandId);

// Bitmap resource `id` with its standard grays turned into the system's 3-D colours, else as
// it is; null when there is none.
HBITMAP LoadMenuBitmap(UINT_PTR id);
