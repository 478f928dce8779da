#include "Component.h"

#include "ModuleState.h"

namespace mervax {

Component::Component() {
    AddModuleReference();
}

Component::~Component() {
    ReleaseModuleReference();
}

HRESULT STDMETHODCALLTYPE Component::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMervaxComponent)) {
        *object = static_cast<IMervaxComponent*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE Component::AddRef() {
    return ++m_references;
}

ULONG STDMETHODCALLTYPE Component::Release() {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE Component::GetVersion(DWORD* version) {
    if (version == nullptr) return E_POINTER;
    *version = kMervaxComponentVersion;
    return S_OK;
}

}  // namespace mervax
