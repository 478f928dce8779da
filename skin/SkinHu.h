// SkinHu.dll: gives the dialogs of a process a colour scheme of its own.
//
// Every call answers 1 for success and 0 for failure; a failure changes nothing, and a dialog
// works the same with or without the library's look.
#pragma once

#ifdef SKINHU_BUILD
#define SKINHU_API __declspec(dllexport)
#else
#define SKINHU_API __declspec(dllimport)
#endif

extern "C" {

// Starts skinning the dialogs that the calling thread creates from now on, with the built-in
// scheme until a package is attached.
SKINHU_API int __stdcall SkinH_Attach();

// Reads a skin package (the bytes of a "SKIN" resource) and uses its scheme from now on; also
// starts skinning the calling thread's dialogs as SkinH_Attach does. Malformed bytes are
// refused with 0 and the scheme in use stays. `password`, `a`, `b` and `c` are reserved: pass
// null and zeros.
SKINHU_API int __stdcall SkinH_AttachRes(const unsigned char* data, int size, const char* password,
                                         int a, int b, int c);

// Translucent window frames: 0 keeps them off (the only setting this library has).
SKINHU_API int __stdcall SkinH_SetAero(int enable);
}
