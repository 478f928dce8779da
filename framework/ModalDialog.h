// A modal dialog made from a dialog template resource. One dialog procedure turns messages
// into the virtual hooks below; notifications about controls go to the controls' objects
// first (see Window::OnReflected).
#pragma once

#include "DataExchange.h"
#include "Window.h"

class ModalDialog : public Window {
public:
    ModalDialog(int templateId, Window* parent) : m_templateId(templateId), m_parent(parent) {}

    // Shows the dialog and returns when it has ended: the value given to EndDialog, or -1.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result) const { ::EndDialog(m_hWnd, result); }
    bool UpdateData(bool saving);

protected:
    // Binds member controls and fills them (runs from OnInitDialog and UpdateData).
    virtual void DoDataExchange(DataExchange&) {}
    // Return TRUE to let Windows set the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // A command from a control or menu; true when handled.
    virtual bool OnCommand(int id, int notifyCode);
    // Any other message; true when handled, with result set. False lets the dialog's
    // default processing run.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool DispatchCommand(WPARAM wParam, LPARAM lParam);

    int m_templateId;
    Window* m_parent;
};
