// Entry point of the updater.
#include "archive/Archive.h"
#include "platform/WindowsSupport.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        TArchive archive;
        return archive.openAttached() ? 0 : 2;
    } catch (const std::exception& e) {
        MessageBoxA(nullptr, e.what(), "Update", MB_OK);
        return 3;
    }
}
