// The one header that includes <windows.h>. Win32 implementations of the
// platform layer (the *.inc files under Windows/) and the window code include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "base/ScopedHandle.h"

struct FileHandleTraits {
    using handle_type = HANDLE;
    static handle_type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(handle_type h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using handle_type = HANDLE;
    static handle_type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(handle_type h) { ::FindClose(h); }
};

struct RegKeyTraits {
    using handle_type = HKEY;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::RegCloseKey(h); }
};

struct GdiObjectTraits {
    using handle_type = HGDIOBJ;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::DeleteObject(h); }
};

struct ModuleTraits {
    using handle_type = HMODULE;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::FreeLibrary(h); }
};

using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
