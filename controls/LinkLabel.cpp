#include "LinkLabel.h"

#include <commctrl.h>

#include "CodePage.h"
#include "GdiOwners.h"

namespace {
// "Take over what waits in the slot": sent by other threads to the label, carries nothing.
constexpr UINT WM_LINK_TAKE_PENDING = WM_APP + 0x4C;
constexpr UINT kRedrawFlags = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr UINT_PTR kToolId = 1;
constexpr int kHelpHandCursor = 106;

bool OnThreadOf(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}
}  // namespace

HCURSOR LoadHandCursorFrom(const std::wstring& modulePath) {
    HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return nullptr;
    HCURSOR copy = nullptr;
    if (HCURSOR cursor = LoadCursorW(module, MAKEINTRESOURCEW(kHelpHandCursor)))
        copy = CopyIcon(cursor);
    FreeLibrary(module);
    return copy;
}

LinkLabel::LinkLabel() : m_clrHover(GetSysColor(COLOR_HIGHLIGHT)) {}

LinkLabel::~LinkLabel() {
    if (m_tipTarget && ::IsWindow(m_tipTarget) && OnThreadOf(m_tipTarget))
        DestroyWindow(m_tipTarget);
    if (m_fontLink) DeleteObject(m_fontLink);
}

void LinkLabel::SetLinkTarget(GbkString target) {
    {
        std::lock_guard<std::mutex> hold(m_pendingLock);
        m_pending.target = std::move(target);
    }
    HandOver();
}

void LinkLabel::SetHandCursor(HCURSOR cursor) {
    {
        std::lock_guard<std::mutex> hold(m_pendingLock);
        m_pending.cursor = cursor;
    }
    HandOver();
}

// The label's thread applies what waits: at once when that is the caller, else through a
// message that the caller waits for, so the values stand when the setter returns.
void LinkLabel::HandOver() {
    if (m_hWnd && !OnThreadOf(m_hWnd))
        ::SendMessageW(m_hWnd, WM_LINK_TAKE_PENDING, 0, 0);
    else
        TakePending();
}

void LinkLabel::TakePending() {
    EnsurePrepared();
    Pending pending;
    {
        std::lock_guard<std::mutex> hold(m_pendingLock);
        std::swap(pending, m_pending);
    }
    if (pending.target) {
        m_strTarget = std::move(*pending.target);
        if (IsWindow()) {
            FitToText();
            UpdateToolTip();
        }
    }
    if (pending.cursor) {
        m_hHandCursor = *pending.cursor;
        if (!m_hHandCursor) LoadDefaultHandCursor();
    }
}

void LinkLabel::MarkVisited(bool visited) {
    m_bLinkVisited = visited;
    if (IsWindow()) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void LinkLabel::EnsurePrepared() {
    if (m_prepared || !IsWindow()) return;
    m_prepared = true;
    Prepare();
}

void LinkLabel::Prepare() {
    SetWindowLongW(m_hWnd, GWL_STYLE, GetWindowLongW(m_hWnd, GWL_STYLE) | SS_NOTIFY);
    if (m_strTarget.IsEmpty()) m_strTarget = GetWindowText();
    if (GetWindowText().IsEmpty()) SetWindowText(m_strTarget);

    auto font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    LOGFONTW logFont{};
    GetObjectW(font ? font : GetStockObject(SYSTEM_FONT), sizeof(logFont), &logFont);
    logFont.lfUnderline = m_bUnderlined;
    m_fontLink = CreateFontIndirectW(&logFont);
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_fontLink), TRUE);

    FitToText();
    LoadDefaultHandCursor();
    CreateToolTip();
}

void LinkLabel::FitToText() {
    if (!IsWindow() || !m_bFitToText) return;
    RECT rect;
    GetWindowRect(m_hWnd, &rect);
    MapWindowPoints(nullptr, GetParent(m_hWnd), reinterpret_cast<POINT*>(&rect), 2);

    const std::wstring text = ToWide(GetWindowText());
    SIZE extent{};
    {
        const WindowDc dc(m_hWnd);
        const Selected font(dc.Handle(), m_fontLink);
        GetTextExtentPoint32W(dc.Handle(), text.c_str(), static_cast<int>(text.size()), &extent);
    }

    const auto style = static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_STYLE));
    if (style & SS_CENTERIMAGE)
        InflateRect(&rect, 0, -((rect.bottom - rect.top - extent.cy) / 2));
    else
        rect.bottom = rect.top + extent.cy;
    if (style & SS_CENTER)
        InflateRect(&rect, -((rect.right - rect.left - extent.cx) / 2), 0);
    else if (style & SS_RIGHT)
        rect.left = rect.right - extent.cx;
    else
        rect.right = rect.left + extent.cx;
    SetWindowPos(m_hWnd, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER);
}

// The Windows help program's hand, where nobody has given the label a cursor.
void LinkLabel::LoadDefaultHandCursor() {
    if (m_hHandCursor) return;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    m_hHandCursor = LoadHandCursorFrom(std::wstring(folder) + L"\\winhlp32.exe");
}

// The label's one tool, showing text (which must outlive the call it is used in).
TOOLINFOW LinkLabel::ToolInfo(const std::wstring& text) const {
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_hWnd;
    tool.uId = kToolId;
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    return tool;
}

// The tip follows the mouse by subclassing the label itself (TTF_SUBCLASS): a modal dialog's
// message loop is the system's, and relays nothing to it.
void LinkLabel::CreateToolTip() {
    m_tipTarget =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!m_tipTarget) return;
    const std::wstring text = ToWide(m_strTarget);
    TOOLINFOW tool = ToolInfo(text);
    tool.uFlags = TTF_SUBCLASS;
    GetClientRect(m_hWnd, &tool.rect);
    ::SendMessageW(m_tipTarget, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void LinkLabel::UpdateToolTip() {
    if (!m_tipTarget) return;
    const std::wstring text = ToWide(m_strTarget);
    TOOLINFOW tool = ToolInfo(text);
    ::SendMessageW(m_tipTarget, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool LinkLabel::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    EnsurePrepared();
    if (message == WM_CTLCOLORSTATIC) {
        result = reinterpret_cast<LRESULT>(CtlColor(reinterpret_cast<HDC>(wParam)));
        return true;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
        OnLinkClicked();
        result = 0;
        return true;
    }
    return false;
}

HBRUSH LinkLabel::CtlColor(HDC dc) const {
    SetTextColor(dc, m_bHover ? m_clrHover : m_bLinkVisited ? m_clrVisited : m_clrLink);
    SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

LRESULT LinkLabel::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    EnsurePrepared();
    switch (message) {
        case WM_LINK_TAKE_PENDING:
            TakePending();
            return 0;
        case WM_SETCURSOR:
            if (!m_hHandCursor) break;
            SetCursor(m_hHandCursor);
            return TRUE;
        case WM_MOUSEMOVE: {
            const LRESULT result = Default(message, wParam, lParam);
            OnMouseMove({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
            return result;
        }
        default:
            break;
    }
    return Default(message, wParam, lParam);
}

void LinkLabel::OnMouseMove(POINT point) {
    if (!m_bHover) {
        m_bHover = true;
        Redraw();
        SetCapture(m_hWnd);
        return;
    }
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (PtInRect(&client, point)) return;
    m_bHover = false;
    ReleaseCapture();
    Redraw();
}

void LinkLabel::Redraw() const {
    RedrawWindow(m_hWnd, nullptr, nullptr, kRedrawFlags);
}

void LinkLabel::OnLinkClicked() {
    const int result = OpenLinkTarget(m_strTarget, SW_SHOW, m_openWithShell);
    m_bLinkVisited = result > 32;
    if (result > 32) {
        MarkVisited(true);
        return;
    }
    MessageBeep(MB_ICONEXCLAMATION);
    ShowOpenError(m_hWnd, result);
}
