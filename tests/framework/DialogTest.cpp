// A dialog of the framework on real windows: data exchange binds and fills the controls,
// notifications reach the controls' objects first, and the dialog ends through Cancel.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>

#include "CodePage.h"
#include "Controls.h"
#include "ModalDialog.h"

namespace {

// A label that answers its own colour message, as a hyperlink label does.
class OwnColourLabel : public StaticText {
public:
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    ~OwnColourLabel() override { DeleteObject(brush); }
    bool OnReflected(UINT message, WPARAM, LPARAM, LRESULT& result) override {
        if (message != WM_CTLCOLORSTATIC) return false;
        result = reinterpret_cast<LRESULT>(brush);
        return true;
    }
};

// A button that keeps its clicks to itself.
class CountingButton : public Button {
public:
    std::atomic<int> clicks{0};
    std::atomic<int> ownMessages{0};
    std::atomic<bool> passOn{false};
    bool OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT&) override {
        if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
        if (passOn) {
            ++clicks;
            return false;
        }
        ++clicks;
        return true;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_APP) ++ownMessages;
        if (message == WM_APP + 1) throw std::runtime_error("a handler that fails");
        return Button::WindowProc(message, wParam, lParam);
    }
};

class TestDialog : public ModalDialog {
public:
    TestDialog() : ModalDialog(100, nullptr) {}
    OwnColourLabel label;
    CountingButton button;
    Edit edit;
    GbkString text = "初始文字";
    std::atomic<int> dialogCommands{0};
    std::atomic<HWND> window{nullptr};
    bool failToInit = false;

protected:
    void DoDataExchange(DataExchange& exchange) override {
        exchange.Control(200, label);
        exchange.Control(201, button);
        exchange.Control(202, edit);
        exchange.Text(202, text);
    }
    BOOL OnInitDialog() override {
        const BOOL result = ModalDialog::OnInitDialog();
        if (failToInit) throw std::bad_alloc();
        window = m_hWnd;
        return result;
    }
    bool OnCommand(int id, int) override {
        if (id == 201) ++dialogCommands;
        return false;
    }
};

}  // namespace

TEST(ModalDialog, BindsReflectsAndEnds) {
    TestDialog dialog;
    std::atomic<INT_PTR> ended{0};
    std::thread owner([&] { ended = dialog.DoModal(); });
    for (int i = 0; i < 500 && !dialog.window.load(); ++i) Sleep(10);
    HWND window = dialog.window.load();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(Window::FromHandle(window), &dialog);
    EXPECT_EQ(dialog.label.m_hWnd, GetDlgItem(window, 200));
    EXPECT_EQ(Window::FromHandle(GetDlgItem(window, 201)), &dialog.button);
    wchar_t text[32] = {};
    GetWindowTextW(GetDlgItem(window, 202), text, 32);
    EXPECT_STREQ(text, L"初始文字");

    // The label's own brush comes back through the dialog procedure.
    HDC dc = GetDC(GetDlgItem(window, 200));
    const auto brush = SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(GetDlgItem(window, 200)));
    ReleaseDC(GetDlgItem(window, 200), dc);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), dialog.label.brush);

    // A click goes to the button's object, which keeps it from the dialog.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(201, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, 201)));
    EXPECT_EQ(dialog.button.clicks.load(), 1);
    EXPECT_EQ(dialog.dialogCommands.load(), 0);  // handled by the control: the dialog never sees it
    dialog.button.passOn = true;  // a control that lets the dialog have the click too
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(201, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, 201)));
    EXPECT_EQ(dialog.button.clicks.load(), 2);
    EXPECT_EQ(dialog.dialogCommands.load(), 1);
    SendMessageW(GetDlgItem(window, 201), WM_APP, 0, 0);
    EXPECT_EQ(dialog.button.ownMessages.load(), 1);

    SendMessageW(GetDlgItem(window, 202), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"改过的"));
    EXPECT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.text, "改过的");

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    owner.join();
    EXPECT_EQ(ended.load(), IDCANCEL);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.button.m_hWnd, nullptr);  // unhooked when its window went away
}

// Nothing that a handler throws unwinds through the system's dialog or window code.
TEST(ModalDialog, AFailingHandlerDoesNotUnwindThroughTheSystem) {
    TestDialog failing;
    failing.failToInit = true;
    EXPECT_EQ(failing.DoModal(), -1);  // as a dialog that could not be made

    TestDialog dialog;
    std::thread owner([&] { dialog.DoModal(); });
    for (int i = 0; i < 500 && !dialog.window.load(); ++i) Sleep(10);
    HWND window = dialog.window.load();
    ASSERT_NE(window, nullptr);
    HWND button = GetDlgItem(window, 201);
    EXPECT_EQ(SendMessageW(button, WM_APP + 1, 0, 0), 0);  // the default handling's answer
    SendMessageW(button, WM_APP, 0, 0);
    EXPECT_EQ(dialog.button.ownMessages.load(), 1);  // and the control goes on working
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    owner.join();
}
