// Reads an extended dialog template resource as the program carries it, so the tests can
// check the exact styles that were compiled in (a control may change its own at run time).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring className;  // predefined classes are given by name ("Button", "Static", ...)
    std::wstring text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, className, caption;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::wstring face;
    std::vector<TemplateItem> items;
};

// False if the resource is missing or is not an extended template.
bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate& out);
