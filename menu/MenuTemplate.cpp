#include "MenuTemplate.h"

MenuTemplateReader::MenuTemplateReader(const BYTE* data, DWORD size) : m_data(data), m_size(size) {
    WORD version = 0, itemsOffset = 0;
    if (ReadWord(version) && ReadWord(itemsOffset)) m_offset += itemsOffset;
}

bool MenuTemplateReader::ReadWord(WORD& word) {
    if (m_offset + sizeof(WORD) > m_size) return false;
    word = static_cast<WORD>(m_data[m_offset] | m_data[m_offset + 1] << 8);
    m_offset += sizeof(WORD);
    return true;
}

bool MenuTemplateReader::Next(MenuTemplateItem& item) {
    WORD flags = 0, id = 0;
    if (!ReadWord(flags)) return false;
    if (!(flags & MF_POPUP) && !ReadWord(id)) return false;
    item.flags = flags;
    item.id = id;
    item.text.clear();
    for (WORD ch = 0;;) {
        if (!ReadWord(ch)) return false;
        if (ch == 0) return true;
        item.text += static_cast<wchar_t>(ch);
    }
}
