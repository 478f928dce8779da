#include "MenuResources.h"

namespace {
const wchar_t* const kToolbarType = MAKEINTRESOURCEW(241);

HMODULE ModuleOfThisCode() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ModuleOfThisCode), &module);
    return module;
}

ResourceBytes BytesIn(HMODULE module, const wchar_t* name, const wchar_t* type) {
    HRSRC found = module ? FindResourceW(module, name, type) : nullptr;
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    return {module, static_cast<const BYTE*>(data), SizeofResource(module, found)};
}

// Toolbar resource: version, button width, button height, count, then the command ids
// (0 for a separator), all 16-bit.
struct ToolbarHeader {
    WORD version, width, height, count;
};
}  // namespace

ResourceBytes FindResourceBytes(const wchar_t* name, const wchar_t* type) {
    ResourceBytes bytes = BytesIn(ModuleOfThisCode(), name, type);
    return bytes.data ? bytes : BytesIn(GetModuleHandleW(nullptr), name, type);
}

int ToolbarButtonImage(int toolbarId, UINT commandId) {
    const ResourceBytes bytes = FindResourceBytes(MAKEINTRESOURCEW(toolbarId), kToolbarType);
    if (!bytes.data || bytes.size < sizeof(ToolbarHeader)) return 0;
    ToolbarHeader header;
    CopyMemory(&header, bytes.data, sizeof(header));
    const size_t count = (bytes.size - sizeof(header)) / sizeof(WORD);
    int image = 0;
    for (size_t i = 0; i < header.count && i < count; ++i) {
        WORD id;
        CopyMemory(&id, bytes.data + sizeof(header) + i * sizeof(WORD), sizeof(id));
        if (id == commandId) return image;
        if (id != 0) ++image;
    }
    return 0;
}

HBITMAP LoadMenuBitmap(UINT_PTR id) {
    const wchar_t* name = MAKEINTRESOURCEW(id);
    const ResourceBytes bytes = FindResourceBytes(name, RT_BITMAP);
    if (!bytes.data) return nullptr;
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageW(bytes.module, name, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    return bitmap ? bitmap : LoadBitmapW(bytes.module, name);
}
