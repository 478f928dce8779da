#include "ModuleState.h"

#include <atomic>

namespace mervax {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_references{0};

}  // namespace

void SetModuleHandle(HMODULE module) {
    g_module = module;
}

HMODULE ModuleHandle() {
    return g_module;
}

std::wstring ModulePath() {
    // The buffer grows until the whole path fits: a long folder must not be cut short.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void AddModuleReference() {
    ++g_references;
}

void ReleaseModuleReference() {
    --g_references;
}

bool ModuleInUse() {
    return g_references.load() != 0;
}

}  // namespace mervax
