// A dialog's static text turned into a hyperlink: underlined in the link colour, the hover
// colour while the mouse is over it (it then holds the capture) and the visited colour once
// opened; a hand cursor, a tooltip with the target, and a click opens the target (see
// LinkOpening.h), beeping and showing an error box when that fails.
//
// Bind it like any control (DataExchange::Control); it prepares itself (notify style,
// underlined font, size fitted to the text, cursor, tooltip) at its first message or call.
// SetLinkTarget and SetHandCursor may be called from any thread: they leave the value in a
// locked slot and the label's own thread takes it over; the message that asks for that
// carries nothing.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "Controls.h"
#include "GbkString.h"
#include "LinkOpening.h"

class LinkLabel : public StaticText {
public:
    LinkLabel();
    ~LinkLabel() override;

    // Any thread.
    void SetLinkTarget(GbkString target);
    void SetHandCursor(HCURSOR cursor);

    // The label's own thread.
    void MarkVisited(bool visited);
    GbkString GetLinkTarget() const { return m_strTarget; }
    bool IsHovering() const { return m_bHover; }
    bool IsVisited() const { return m_bLinkVisited; }
    HCURSOR GetHandCursor() const { return m_hHandCursor; }
    HWND GetToolTip() const { return m_tipTarget; }
    void FitToText();
    // What a click does: open the target, then show the visited colour or the error.
    void OnLinkClicked();

    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    const COLORREF m_clrLink = RGB(0, 0, 238);
    const COLORREF m_clrVisited = RGB(85, 26, 139);
    const COLORREF m_clrHover;
    // How the shell is asked to open a target; tests put results the shell here never gives.
    ShellOpen m_openWithShell = ShellOpenTarget;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Pending {
        std::optional<GbkString> target;
        std::optional<HCURSOR> cursor;
    };

    void EnsurePrepared();
    void Prepare();
    void LoadDefaultHandCursor();
    void CreateToolTip();
    void UpdateToolTip();
    TOOLINFOW ToolInfo(const std::wstring& text) const;
    void HandOver();
    void TakePending();
    void OnMouseMove(POINT point);
    void Redraw() const;
    HBRUSH CtlColor(HDC dc) const;

    bool m_bHover = false;
    bool m_bLinkVisited = false;
    const bool m_bUnderlined = true;
    const bool m_bFitToText = true;
    GbkString m_strTarget;
    HFONT m_fontLink = nullptr;  // ours
    HCURSOR m_hHandCursor = nullptr;
    HWND m_tipTarget = nullptr;  // a child of the label's window, goes with it
    bool m_prepared = false;

    std::mutex m_pendingLock;
    Pending m_pending;
};

// Loads cursor 106 of the module at path and returns a copy of it (ours to keep), or null.
HCURSOR LoadHandCursorFrom(const std::wstring& modulePath);
