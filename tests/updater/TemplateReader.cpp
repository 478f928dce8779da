#include "TemplateReader.h"

#include <cstring>

namespace {
class Cursor {
public:
    Cursor(const BYTE* at, const BYTE* end) : m_at(at), m_end(end) {}
    bool Ok() const { return m_at <= m_end; }

    template <typename T>
    T Take() {
        T value{};
        if (m_at + sizeof(T) <= m_end) std::memcpy(&value, m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }
    std::wstring String() {
        std::wstring text;
        for (WCHAR c = Take<WCHAR>(); c != 0 && Ok(); c = Take<WCHAR>()) text += c;
        return text;
    }
    // A name or an ordinal; ordinals of the predefined classes come back as their names.
    std::wstring NameOrOrdinal() {
        WORD first = 0;
        std::memcpy(&first, m_at, sizeof(first));
        if (first == 0) {
            Take<WORD>();
            return {};
        }
        if (first != 0xFFFF) return String();
        Take<WORD>();
        switch (const WORD ordinal = Take<WORD>()) {
            case 0x80:
                return L"Button";
            case 0x81:
                return L"Edit";
            case 0x82:
                return L"Static";
            case 0x83:
                return L"ListBox";
            case 0x84:
                return L"ScrollBar";
            case 0x85:
                return L"ComboBox";
            default:
                return L"#" + std::to_wstring(ordinal);
        }
    }
    void AlignToDword(const BYTE* base) {
        while ((m_at - base) % 4) ++m_at;
    }
    const BYTE* At() const { return m_at; }

private:
    const BYTE* m_at;
    const BYTE* m_end;
};
}  // namespace

bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate& out) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /*RT_DIALOG*/);
    if (!found) return false;
    const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    if (!base) return false;
    Cursor in(base, base + SizeofResource(module, found));
    if (in.Take<WORD>() != 1 || in.Take<WORD>() != 0xFFFF) return false;
    in.Take<DWORD>();  // help id
    out.exStyle = in.Take<DWORD>();
    out.style = in.Take<DWORD>();
    const WORD count = in.Take<WORD>();
    out.x = in.Take<short>();
    out.y = in.Take<short>();
    out.cx = in.Take<short>();
    out.cy = in.Take<short>();
    out.menu = in.NameOrOrdinal();
    out.className = in.NameOrOrdinal();
    out.caption = in.String();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = in.Take<WORD>();
        out.weight = in.Take<WORD>();
        out.italic = in.Take<BYTE>();
        out.charset = in.Take<BYTE>();
        out.face = in.String();
    }
    for (WORD i = 0; i < count && in.Ok(); ++i) {
        in.AlignToDword(base);
        TemplateItem item;
        in.Take<DWORD>();  // help id
        item.exStyle = in.Take<DWORD>();
        item.style = in.Take<DWORD>();
        item.x = in.Take<short>();
        item.y = in.Take<short>();
        item.cx = in.Take<short>();
        item.cy = in.Take<short>();
        item.id = static_cast<int>(in.Take<DWORD>());
        item.className = in.NameOrOrdinal();
        item.text = in.NameOrOrdinal();
        const WORD extra = in.Take<WORD>();
        for (WORD b = 0; b < extra; ++b) in.Take<BYTE>();
        out.items.push_back(item);
    }
    return in.Ok();
}
