// The built SkinHu.dll, loaded by path and called by its plain export names, on real dialogs.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "SkinPackage.h"
#include "TestFiles.h"

namespace {

using AttachFn = int(__stdcall*)();
using AttachResFn = int(__stdcall*)(const unsigned char*, int, const char*, int, int, int);
using SetAeroFn = int(__stdcall*)(int);

constexpr int kPlainStatic = 100;
constexpr int kOwnStatic = 101;
constexpr COLORREF kOwnBack = RGB(200, 30, 40);
constexpr COLORREF kOwnText = RGB(0, 0, 250);
constexpr UINT kCheckAndClose = WM_APP + 1;
constexpr UINT_PTR kSafetyTimer = 7;

HBRUSH g_ownBrush = nullptr;

// A dialog proc that leaves everything to the system except the colours of kOwnStatic, which
// it paints itself, as a hyperlink label's parent does.
INT_PTR CALLBACK TestDialogProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_CTLCOLORSTATIC:
            if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kOwnStatic) {
                SetTextColor(reinterpret_cast<HDC>(wParam), kOwnText);
                SetBkColor(reinterpret_cast<HDC>(wParam), kOwnBack);
                return reinterpret_cast<INT_PTR>(g_ownBrush);
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// A dialog template in memory: caption-less popup with the two statics. Hidden dialogs are
// cheaper under a display without a window manager (no wait for the window to be unmapped).
std::vector<WORD> MakeTemplate(bool visible) {
    std::vector<WORD> t;
    auto dword = [&t](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto align = [&t] {
        if (t.size() % 2) t.push_back(0);
    };
    auto text = [&t](const wchar_t* s) {
        for (; *s; ++s) t.push_back(static_cast<WORD>(*s));
        t.push_back(0);
    };
    dword(WS_POPUP | (visible ? WS_VISIBLE : 0));
    dword(0);
    t.push_back(2);  // items
    for (short v : {0, 0, 120, 60}) t.push_back(static_cast<WORD>(v));
    t.push_back(0);  // no menu
    t.push_back(0);  // the dialog class
    text(L"");
    const struct {
        int id;
        short y;
        const wchar_t* text;
    } items[] = {{kPlainStatic, 5, L"A"}, {kOwnStatic, 20, L"B"}};
    for (const auto& item : items) {
        align();
        dword(WS_CHILD | WS_VISIBLE | SS_LEFT);
        dword(0);
        for (short v : {short(5), item.y, short(40), short(10)}) t.push_back(static_cast<WORD>(v));
        t.push_back(static_cast<WORD>(item.id));
        t.push_back(0xFFFF);
        t.push_back(0x0082);  // Static
        text(item.text);
        t.push_back(0);  // no creation data
    }
    return t;
}

enum class Shown { No, Yes };

HWND CreateTestDialog(Shown shown = Shown::No) {
    static const std::vector<WORD> hidden = MakeTemplate(false);
    static const std::vector<WORD> visible = MakeTemplate(true);
    const auto& tmpl = shown == Shown::Yes ? visible : hidden;
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), nullptr,
                                      TestDialogProc, 0);
}

void PumpMessages() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// What a window answers to a WM_CTLCOLOR* message, and what it did to the DC.
struct ColourAnswer {
    HBRUSH brush = nullptr;
    COLORREF brushColour = CLR_INVALID;
    COLORREF text = CLR_INVALID;
    COLORREF back = CLR_INVALID;
};

ColourAnswer Ask(HWND dlg, UINT msg, HWND about) {
    ColourAnswer a;
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkColor(dc, RGB(4, 5, 6));
    a.brush = reinterpret_cast<HBRUSH>(
        SendMessageW(dlg, msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(about)));
    LOGBRUSH lb{};
    if (a.brush && GetObjectW(a.brush, sizeof lb, &lb) == sizeof lb) a.brushColour = lb.lbColor;
    a.text = GetTextColor(dc);
    a.back = GetBkColor(dc);
    DeleteDC(dc);
    return a;
}

ColourAnswer AskDialog(HWND dlg) {
    return Ask(dlg, WM_CTLCOLORDLG, dlg);
}

// The colour on screen near the bottom-right corner of the client area, where no control is.
COLORREF PaintedFaceColour(HWND dlg) {
    UpdateWindow(dlg);
    PumpMessages();
    RECT rc{};
    GetClientRect(dlg, &rc);
    HDC dc = GetDC(dlg);
    const COLORREF c = GetPixel(dc, rc.right - 3, rc.bottom - 3);
    ReleaseDC(dlg, dc);
    return c;
}

struct ModalOutcome {
    COLORREF face = CLR_INVALID;
};

// Checks the dialog's colour from inside its own modal loop, then ends it.
INT_PTR CALLBACK ModalProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            PostMessageW(dlg, kCheckAndClose, 0, 0);
            SetTimer(dlg, kSafetyTimer, 10000, nullptr);  // a bound, should all else fail
            return TRUE;
        case kCheckAndClose:
            reinterpret_cast<ModalOutcome*>(GetWindowLongPtrW(dlg, DWLP_USER))->face =
                AskDialog(dlg).brushColour;
            EndDialog(dlg, 42);
            return TRUE;
        case WM_TIMER:
            EndDialog(dlg, -2);
            return TRUE;
        default:
            return TestDialogProc(dlg, msg, wParam, lParam);
    }
}

class SkinLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Never freed: the library keeps itself loaded once a thread is hooked.
        module_ = LoadLibraryW(skintest::SkinDllPath().c_str());
        if (!module_) return;
        attach_ = reinterpret_cast<AttachFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "SkinH_Attach")));
        attachRes_ = reinterpret_cast<AttachResFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "SkinH_AttachRes")));
        setAero_ = reinterpret_cast<SetAeroFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "SkinH_SetAero")));
        package_ = skintest::ReadWholeFile(skintest::ArtPath(L"default.skin"));
        g_ownBrush = CreateSolidBrush(kOwnBack);
    }

    void SetUp() override {
        ASSERT_NE(module_, nullptr) << "cannot load SkinHu.dll";
        ASSERT_NE(attach_, nullptr);
        ASSERT_NE(attachRes_, nullptr);
        ASSERT_NE(setAero_, nullptr);
        ASSERT_FALSE(package_.empty()) << "default.skin was not generated";
        ASSERT_EQ(skin::ParsePackage(package_.data(), package_.size(), packageScheme_),
                  skin::ParseStatus::Ok);
    }

    int AttachPackage(const unsigned char* data, int size) {
        return attachRes_(data, size, nullptr, 0, 0, 0);
    }

    static inline HMODULE module_ = nullptr;
    static inline AttachFn attach_ = nullptr;
    static inline AttachResFn attachRes_ = nullptr;
    static inline SetAeroFn setAero_ = nullptr;
    static inline std::vector<unsigned char> package_;
    skin::Scheme packageScheme_{};
};

// The steps depend on one another (the library's scheme is per process), so they run in one
// test: unskinned before attaching, the built-in scheme, damaged packages refused, the package.
TEST_F(SkinLibrary, SkinsDialogsFromAttachOnwardAndKeepsTheSchemeOnBadPackages) {
    HBRUSH systemFace = GetSysColorBrush(COLOR_BTNFACE);

    HWND before = CreateTestDialog();
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(AskDialog(before).brush, systemFace) << "skinned before any attach";

    ASSERT_EQ(attach_(), 1);
    EXPECT_EQ(attach_(), 1) << "attaching twice must be harmless";
    HWND builtIn = CreateTestDialog();
    ASSERT_NE(builtIn, nullptr);
    const skin::Scheme builtInScheme = skin::BuiltInScheme();
    ColourAnswer a = AskDialog(builtIn);
    EXPECT_EQ(a.brushColour, builtInScheme.dialogBack);
    EXPECT_EQ(a.text, builtInScheme.dialogText);
    EXPECT_EQ(a.back, builtInScheme.dialogBack);
    EXPECT_EQ(AskDialog(before).brush, systemFace) << "an existing dialog changed its look";

    // Damaged packages: refused, nothing changes.
    std::vector<unsigned char> wrongMagic = package_;
    wrongMagic[0] ^= 0xFF;
    std::vector<unsigned char> wrongVersion = package_;
    wrongVersion[4] = 9;
    const int size = static_cast<int>(package_.size());
    EXPECT_EQ(AttachPackage(nullptr, size), 0);
    EXPECT_EQ(AttachPackage(package_.data(), 0), 0);
    EXPECT_EQ(AttachPackage(package_.data(), -1), 0);
    EXPECT_EQ(AttachPackage(package_.data(), size - 1), 0);
    EXPECT_EQ(AttachPackage(package_.data(), 0x7FFFFFFF), 0);
    EXPECT_EQ(AttachPackage(wrongMagic.data(), size), 0);
    EXPECT_EQ(AttachPackage(wrongVersion.data(), size), 0);
    HWND afterBad = CreateTestDialog();
    ASSERT_NE(afterBad, nullptr);
    EXPECT_EQ(AskDialog(afterBad).brushColour, builtInScheme.dialogBack);
    wchar_t text[8] = {};
    EXPECT_EQ(GetDlgItemTextW(afterBad, kPlainStatic, text, 8), 1u);
    EXPECT_STREQ(text, L"A");

    // The real package.
    ASSERT_EQ(AttachPackage(package_.data(), size), 1);
    EXPECT_EQ(setAero_(0), 1);
    HWND skinned = CreateTestDialog(Shown::Yes);
    ASSERT_NE(skinned, nullptr);
    a = AskDialog(skinned);
    EXPECT_EQ(a.brushColour, packageScheme_.dialogBack);
    EXPECT_EQ(a.text, packageScheme_.dialogText);
    EXPECT_EQ(PaintedFaceColour(skinned), packageScheme_.dialogBack);
    EXPECT_EQ(AskDialog(afterBad).brushColour, builtInScheme.dialogBack)
        << "a dialog keeps the scheme it was created with";

    // Closing a dialog frees its brushes.
    HBRUSH skinnedBrush = a.brush;
    EXPECT_NE(GetObjectType(skinnedBrush), 0u);
    EXPECT_TRUE(DestroyWindow(skinned));
    EXPECT_EQ(GetObjectType(skinnedBrush), 0u) << "the dialog's brush outlived it";

    EXPECT_EQ(setAero_(1), 1);
    for (HWND dlg : {before, builtIn, afterBad}) EXPECT_TRUE(DestroyWindow(dlg));
}

TEST_F(SkinLibrary, ControlsThatPaintThemselvesKeepTheirColours) {
    ASSERT_EQ(attach_(), 1);
    ASSERT_EQ(AttachPackage(package_.data(), static_cast<int>(package_.size())), 1);
    HWND dlg = CreateTestDialog(Shown::Yes);
    ASSERT_NE(dlg, nullptr);

    const ColourAnswer plain = Ask(dlg, WM_CTLCOLORSTATIC, GetDlgItem(dlg, kPlainStatic));
    EXPECT_EQ(plain.brushColour, packageScheme_.staticBack);
    EXPECT_EQ(plain.text, packageScheme_.staticText);
    EXPECT_EQ(plain.back, packageScheme_.staticBack);

    const ColourAnswer own = Ask(dlg, WM_CTLCOLORSTATIC, GetDlgItem(dlg, kOwnStatic));
    EXPECT_EQ(own.brush, g_ownBrush);
    EXPECT_EQ(own.text, kOwnText);
    EXPECT_EQ(own.back, kOwnBack);

    // On screen too: the own static's background is its own colour.
    UpdateWindow(dlg);
    PumpMessages();
    HWND ownStatic = GetDlgItem(dlg, kOwnStatic);
    RECT rc{};
    GetClientRect(ownStatic, &rc);
    HDC dc = GetDC(ownStatic);
    EXPECT_EQ(GetPixel(dc, rc.right - 2, rc.bottom - 2), kOwnBack);
    ReleaseDC(ownStatic, dc);
    EXPECT_TRUE(DestroyWindow(dlg));
}

TEST_F(SkinLibrary, ModalDialogRunsToItsEndWhileSkinned) {
    ASSERT_EQ(attach_(), 1);
    // A damaged package first: the dialog must work all the same.
    const unsigned char junk[5] = {'Q', 'V', 'S', 'K', 1};
    EXPECT_EQ(AttachPackage(junk, sizeof junk), 0);

    static const std::vector<WORD> tmpl = MakeTemplate(true);
    ModalOutcome outcome;
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), nullptr,
        ModalProc, reinterpret_cast<LPARAM>(&outcome));
    EXPECT_EQ(result, 42);
    EXPECT_NE(outcome.face, CLR_INVALID);
    EXPECT_NE(outcome.face, GetSysColor(COLOR_BTNFACE)) << "the modal dialog was not skinned";
}

TEST_F(SkinLibrary, OnlyTheAttachingThreadsDialogsAreSkinned) {
    ASSERT_EQ(attach_(), 1);
    HBRUSH answer = nullptr;
    bool created = false;
    std::thread other([&] {
        HWND dlg = CreateTestDialog();
        created = dlg != nullptr;
        if (dlg) {
            answer = AskDialog(dlg).brush;
            DestroyWindow(dlg);
        }
    });
    other.join();
    ASSERT_TRUE(created);
    EXPECT_EQ(answer, GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace
