#include "UpdaterApp.h"

#include "SkinHu.h"
#include "UpdateDialog.h"
#include "resource_ids.h"

namespace {
// Another process of this logon holds the marker: this one is a second instance.
bool AnotherInstanceRuns() {
    // Never closed: the marker lives as long as the process. A marker that exists but is not
    // ours to open (another user's, an elevated updater's) is another instance too; any other
    // failure only means that we run without the guard.
    HANDLE marker = CreateMutexW(nullptr, FALSE, L"Update");
    const DWORD error = GetLastError();
    return marker ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
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
