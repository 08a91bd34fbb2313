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

#include <string>

#include "base/ScopedHandle.h"

// State that the Windows services keep per thread. update.exe runs its code on
// its one thread, and its size build (UPDATE_ONE_THREAD) keeps such state in
// plain statics: thread_local brings the emulated thread-local storage of the
// runtime along (about 2 KB). The tests' builds keep it per thread.
#ifdef UPDATE_ONE_THREAD
#define UPDATE_THREAD_LOCAL
#else
#define UPDATE_THREAD_LOCAL thread_local
#endif

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

// Kernel objects whose functions report failure with nullptr (mutexes, events).
struct KernelObjectTraits {
    using handle_type = HANDLE;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::CloseHandle(h); }
};

struct ModuleTraits {
    using handle_type = HMODULE;
    static handle_type invalid() { return nullptr; }
    static void close(handle_type h) { ::FreeLibrary(h); }
};

// DLL planting: an update is usually started from a downloads folder, where
// anyone may have left a version.dll or comctl32.dll. The program imports
// statically only DLLs that Windows always takes from the system folder (known
// DLLs); every other one is loaded with LoadSystemLibrary.
//
// Takes the DLL from the side-by-side store when the program's manifest names
// it there (common controls 6), otherwise from the system folder by its full
// path; never from the program's folder or the current one. nullptr on failure;
// the module stays loaded until the process ends unless the caller frees it.
HMODULE LoadSystemLibrary(const char* name);
// Takes the program's and the current folder out of the DLL search path for
// everything loaded from now on, also by the system's own DLLs; a no-op where
// Windows has neither SetDefaultDllDirectories nor SetDllDirectoryA.
void RestrictDllSearchPath();

// A message in columns that blanks align (the switches of /?), in a fixed-pitch
// font, with OK and an information or error icon; what a message box would
// show ragged in a proportional font. Part of the platform's prompter.
int ShowColumnsBox(const std::string& text, const std::string& caption, bool error);

// Who made a kernel object or file that `object` was opened to read the
// owner of (READ_CONTROL): Unknown where the system keeps no owners (Windows
// 9x, a FAT volume); an owner that is missing or cannot be read counts as Other.
enum class FileOwner;  // platform/FileSystem.h
FileOwner OwnerOfObject(HANDLE object);

using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedKernelObject = ScopedHandle<KernelObjectTraits>;
