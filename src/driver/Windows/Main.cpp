// Entry point of the updater: the window, or a silent run when the command
// line asks for one.
#include "platform/WindowsSupport.h"

#include <commctrl.h>
#include <objbase.h>

#include <exception>

#include "driver/CommandLine.h"
#include "driver/SilentRun.h"
#include "driver/Windows/MainWindow.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"

namespace {

std::string ProgramTitle(const std::string& exePath) {
    std::string name = NamePart(exePath);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The common controls, from the side-by-side store or the system folder
// (LoadSystemLibrary): an import of comctl32.dll would be resolved by the
// loader, before the program runs, from the folder the update was started in.
void InitCommonControlsFromSystem() {
    HMODULE comctl32 = LoadSystemLibrary("comctl32.dll");
    if (!comctl32) return;
    using InitExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto initEx =
        reinterpret_cast<InitExFunction>(reinterpret_cast<void*>(GetProcAddress(comctl32, "InitCommonControlsEx")));
    if (!initEx) return;  // comctl32 before 4.70 registers its classes when it is loaded
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    initEx(&controls);
}

// "update.exe /S /?" from a script with its output redirected: the switches go
// there too. A program without a console has no standard output otherwise.
void WriteStandardOutput(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
}

// A run without a window shows none on any path: no box of the system for a
// drive without a disk or a crash either, and a runtime that gives up ends the
// process with exit code 3 instead of showing its own message box.
int RunQuietly(const LaunchOptions& options, const std::string& commandLineError) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::set_terminate([] { TerminateProcess(GetCurrentProcess(), kExitError); });
    return RunWithoutWindow(options, commandLineError);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    RestrictDllSearchPath();
    std::vector<std::string> args = SplitCommandLine(commandLine ? commandLine : "");
    LaunchOptions options;
    std::string error;
    bool parsed = ParseLaunchOptions(args, options, error);
    bool quiet = options.mode == LaunchMode::Silent || options.mode == LaunchMode::Unpack;
    if (quiet && options.help) WriteStandardOutput(UsageText() + "\r\n");
    if (quiet) return RunQuietly(options, error);
    if (!parsed || options.mode == LaunchMode::Help) {
        std::string text = parsed ? UsageText() : error + "\r\n\r\n" + UsageText();
        char path[261] = {};
        GetModuleFileNameA(nullptr, path, sizeof path);
        ShowColumnsBox(text, ProgramTitle(path), !parsed);
        return parsed ? kExitSucceeded : kExitBadCommandLine;
    }
    try {
        InitCommonControlsFromSystem();
        OleInitialize(nullptr);
        InitSystemPaths();
        InitRegistryNames(OwnExePath);
        TForm1 form(options.undo);
        int code = form.run(instance);
        OleUninitialize();
        return code;
    } catch (const std::exception& e) {
        MessageBoxA(nullptr, e.what(), "Update", MB_OK | MB_ICONHAND);
        return kExitError;
    }
}
