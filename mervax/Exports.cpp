// The library's entry point and the four standard exports of an in-process COM server.
#include "ClassFactory.h"
#include "Mervax.h"
#include "ModuleState.h"
#include "Registration.h"

#include <objbase.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        mervax::SetModuleHandle(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_MervaxComponent)) return CLASS_E_CLASSNOTAVAILABLE;
    return mervax::TheClassFactory().QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
    return mervax::ModuleInUse() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
    return mervax::RegisterComponentClass();
}

STDAPI DllUnregisterServer() {
    return mervax::UnregisterComponentClass();
}
