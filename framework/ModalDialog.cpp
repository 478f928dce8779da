#include "ModalDialog.h"

namespace {
// Messages whose result a dialog procedure returns directly instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_INITDIALOG:
            return true;
        default:
            return false;
    }
}
}  // namespace

INT_PTR ModalDialog::DoModal() {
    HWND parent = m_parent ? m_parent->m_hWnd : nullptr;
    const INT_PTR result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent,
                        DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

bool ModalDialog::UpdateData(bool saving) {
    DataExchange exchange(m_hWnd, saving);
    DoDataExchange(exchange);
    return true;
}

BOOL ModalDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void ModalDialog::OnOK() {
    UpdateData(true);
    EndDialog(IDOK);
}

void ModalDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool ModalDialog::OnCommand(int, int) {
    return false;
}

bool ModalDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<ModalDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->Link(window);
        // Nothing may unwind through the system's dialog code: a dialog that could not be set
        // up ends as one that could not be made.
        try {
            return dialog->OnInitDialog();
        } catch (...) {
            ::EndDialog(window, -1);
            return FALSE;
        }
    }
    auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    if (message == WM_NCDESTROY) {
        dialog->Unlink();
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    // Nothing may unwind through the system's dialog code.
    try {
        return dialog->Dispatch(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR ModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    bool handled = ReflectToControl(message, wParam, lParam, result);
    if (!handled && message == WM_COMMAND) handled = DispatchCommand(wParam, lParam);
    if (!handled) handled = OnMessage(message, wParam, lParam, result);
    if (!handled) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

bool ModalDialog::DispatchCommand(WPARAM wParam, LPARAM) {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (OnCommand(id, code)) return true;
    if (code != BN_CLICKED) return false;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}
