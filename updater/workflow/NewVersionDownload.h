// Fetching the new version: as a patch against the installed program where the server has
// one (a few percent of the whole file), else, or on any doubt about the patch, the whole file.
//
// The patch's address is made from the download's, which names one set of bytes: the same
// folder, then "from/" and the installed file's SHA-256 as 64 lowercase hex digits, e.g.
//   http://host/download/2.0.1.5/from/<sha256 of the installed file>
// for http://host/download/2.0.1.5/Tanvik体验版.exe. The patch's part and record are those of
// a download of StagedFile::PatchTarget(target).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "DownloadFile.h"
#include "GbkString.h"

// The patch's address for a download address; "" when it has no folder to put it in.
GbkString PatchAddress(const GbkString& downloadAddress, const std::array<uint8_t, 32>& installed);

// As DownloadFile(notify, address, path, hooks, held), trying the patch first; installed is
// the program the patch applies to. The patch's own lines go to log.
int DownloadNewVersion(HWND notify, const GbkString& address, const std::wstring& installed,
                       const std::wstring& path, const DownloadHooks& hooks, HeldDownload* held);
