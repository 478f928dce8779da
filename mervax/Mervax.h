// Mervax.dll: the component library that registrar registers. Its one creatable class is a
// small object that tells its version; clients include this header for the identifiers.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {E501E09D-7477-4F87-B59B-C0EE9D41D1F9}
inline constexpr CLSID CLSID_MervaxComponent = {
    0xe501e09d, 0x7477, 0x4f87, {0xb5, 0x9b, 0xc0, 0xee, 0x9d, 0x41, 0xd1, 0xf9}};

// {0C8A12A2-2E90-4B03-8EB3-80EE4E4B2C00}
inline constexpr IID IID_IMervaxComponent = {
    0x0c8a12a2, 0x2e90, 0x4b03, {0x8e, 0xb3, 0x80, 0xee, 0x4e, 0x4b, 0x2c, 0x00}};

// Version the component reports, as 0xMMmmPPBB (major, minor, patch, build).
inline constexpr DWORD kMervaxComponentVersion = 0x01000001;

struct IMervaxComponent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(DWORD* version) = 0;
};
