// The creatable class: a reference-counted object that implements IMervaxComponent.
#pragma once

#include "Mervax.h"

#include <atomic>

namespace mervax {

class Component final : public IMervaxComponent {
public:
    Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetVersion(DWORD* version) override;

private:
    ~Component();

    std::atomic<ULONG> m_references{1};
};

}  // namespace mervax
