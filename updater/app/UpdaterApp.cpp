#include "UpdaterApp.h"

#include "SkinHu.h"
#include "UpdateDialog.h"
#include "resource_ids.h"

namespace {
// Another process of this logon holds the marker: this one is a second instance.
bool AnotherInstanceRuns() {
    // Never closed: the marker lives as long as the process. A null handle only means
    // that we run without the guard.
    HANDLE marker = CreateMutexW(nullptr, FALSE, L"Update");
    return marker && GetLastError() == ERROR_ALREADY_EXISTS;
}

void AttachSkinPackage(HINSTANCE instance) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDR_SKIN), L"SKIN");
    if (!found) return;
    HGLOBAL loaded = LoadResource(instance, found);
    if (!loaded) return;
    const auto* data = static_cast<const unsigned char*>(LockResource(loaded));
    const auto size = static_cast<int>(SizeofResource(instance, found));
    SkinH_AttachRes(data, size, nullptr, 0, 0, 0);
    SkinH_SetAero(0);
}
}  // namespace

BOOL UpdaterApp::InitInstance() {
    if (AnotherInstanceRuns()) return FALSE;
    SkinH_Attach();
    AttachSkinPackage(m_hInstance);
    EnableCommonControls();

    UpdateDialog dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
