// Where the skin tests find the built library and the generated art.
#pragma once

#include <string>
#include <vector>

namespace skintest {

// Full path of the freshly built SkinHu.dll.
std::wstring SkinDllPath();

// Full path of a file that the art generator wrote (e.g. L"default.skin").
std::wstring ArtPath(const wchar_t* name);

// The whole file; empty when it cannot be read.
std::vector<unsigned char> ReadWholeFile(const std::wstring& path);

}  // namespace skintest
