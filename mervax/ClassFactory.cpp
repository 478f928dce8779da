#include "ClassFactory.h"

#include "Component.h"
#include "ModuleState.h"

#include <new>

namespace mervax {

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The factory is static: its count is not tracked.
ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
    return 2;
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    return 1;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Component* component = new (std::nothrow) Component();
    if (component == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = component->QueryInterface(iid, object);
    component->Release();
    return result;
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        AddModuleReference();
    } else {
        ReleaseModuleReference();
    }
    return S_OK;
}

ClassFactory& TheClassFactory() {
    static ClassFactory factory;
    return factory;
}

}  // namespace mervax
