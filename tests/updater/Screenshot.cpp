#include "Screenshot.h"

#include <cstdio>
#include <set>
#include <vector>

namespace {

// Looks at a grid of points across the rectangle (those on the screen): the window there must
// belong to the photographed window's process. A popup menu's window (#32768) belongs to the
// thread that opened the menu, so a process's own menus count as its own.
bool ShowsOnlyItsOwnProcess(HWND window, const RECT& rect) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    constexpr int kSteps = 5;
    for (int i = 0; i < kSteps; ++i) {
        for (int j = 0; j < kSteps; ++j) {
            const POINT point = {rect.left + (rect.right - rect.left) * (2 * i + 1) / (2 * kSteps),
                                 rect.top + (rect.bottom - rect.top) * (2 * j + 1) / (2 * kSteps)};
            if (!PtInRect(&screen, point)) continue;
            DWORD process = 0;
            const HWND shown = WindowFromPoint(point);
            if (shown == nullptr || !GetWindowThreadProcessId(shown, &process) ||
                process != owner) {
                std::fprintf(stderr,
                             "screenshot: at (%ld, %ld) the screen shows another process's "
                             "window, not the one photographed\n",
                             point.x, point.y);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

ShotInfo SaveWindowShot(HWND window, const std::wstring& path) {
    ShotInfo info;
    RECT rect;
    if (!GetWindowRect(window, &rect)) return info;
    info.width = rect.right - rect.left;
    info.height = rect.bottom - rect.top;
    if (info.width <= 0 || info.height <= 0) return info;
    if (!ShowsOnlyItsOwnProcess(window, rect)) {
        info.covered = true;
        return info;
    }

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, info.width, info.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, info.width, info.height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = info.width;
    header.biHeight = info.height;  // bottom-up, as BMP files are
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const int stride = (info.width * 3 + 3) & ~3;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * info.height);
    GetDIBits(memory, bitmap, 0, info.height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::set<DWORD> colours;
    for (int y = 0; y < info.height && colours.size() < 1000; ++y)
        for (int x = 0; x < info.width; ++x) {
            const BYTE* p = &pixels[static_cast<size_t>(y) * stride + x * 3];
            colours.insert(p[0] | p[1] << 8 | p[2] << 16);
        }
    info.distinctColours = static_cast<int>(colours.size());

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return info;
    DWORD written = 0;
    info.saved =
        WriteFile(out, &file, sizeof(file), &written, nullptr) &&
        WriteFile(out, &header, sizeof(header), &written, nullptr) &&
        WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
    return info;
}
