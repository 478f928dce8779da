// Reads a standard menu template item by item: a header of two 16-bit words (version, offset
// of the items from the header's end), then per item a 16-bit flags word, a 16-bit command id
// unless the item opens a popup, and a zero-terminated UTF-16 text.
#pragma once

#include <windows.h>

#include <string>

struct MenuTemplateItem {
    UINT flags = 0;
    UINT id = 0;
    std::wstring text;
};

class MenuTemplateReader {
public:
    MenuTemplateReader(const BYTE* data, DWORD size);
    // The next item; false at the end of the data or when an item is cut short.
    bool Next(MenuTemplateItem& item);

private:
    bool ReadWord(WORD& word);
    const BYTE* m_data;
    DWORD m_size;
    DWORD m_offset = 0;
};
