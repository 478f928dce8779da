// A top-level window on the test display that holds controls as a dialog would: messages
// about a control are offered to its object first, and the clicks that reach the window
// are counted per control id. Its font is the dialog's, without antialiasing, so that text
// pixels have exactly the colour they were drawn in.
#pragma once

#include <windows.h>

#include <map>
#include <string>

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    HWND Window() const { return m_window; }
    HFONT Font() const { return m_font; }
    // A child control with the host's font, at rect in the host's client area.
    HWND Add(const wchar_t* className, const wchar_t* text, DWORD style, int id, RECT rect);
    int Clicks(int id) const;
    // Handles what waits in this thread's queue.
    static void Pump();

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    std::map<int, int> m_clicks;
};

// A window's rectangle in its parent's client coordinates.
RECT PlaceInParent(HWND control);

// Reads the message box that the current thread is about to show, and closes it.
class BoxReader {
public:
    BoxReader();
    ~BoxReader();
    BoxReader(const BoxReader&) = delete;
    BoxReader& operator=(const BoxReader&) = delete;
    // The box's text once it has been closed; empty when none came within 5 s.
    std::wstring Text();
    // Its caption, once Text has returned.
    std::wstring Caption() const { return m_caption; }

private:
    HANDLE m_thread = nullptr;
    DWORD m_ownerThread;
    std::wstring m_text;
    std::wstring m_caption;
    static DWORD WINAPI Watch(void* self);
};
