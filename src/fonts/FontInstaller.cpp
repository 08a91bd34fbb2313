#include "fonts/FontInstaller.h"

#include <exception>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "archive/Archive.h"
#include "archive/EntryName.h"
#include "base/Text.h"
#include "env/MessageBoxes.h"
#include "env/Registry.h"
#include "env/System.h"
#include "env/Text.h"
#include "platform/FileSystem.h"
#include "platform/FontApi.h"
#include "platform/SystemInfo.h"
#include "update/CarefulCopy.h"
#include "update/Transaction.h"

namespace {

class FontReport {
public:
    FontReport(StringList* log, int threshold) : log_(log), threshold_(threshold) {}
    void operator()(const std::string& text, int level) const {
        if (level < threshold_) return;
        if (log_)
            log_->push_back(text);
        else
            InfoOk(text);
    }
    // A line of several pieces, joined in one string.
    void operator()(int level, std::initializer_list<std::string_view> pieces) const {
        if (level < threshold_) return;
        std::string text;
        for (std::string_view piece : pieces) text.append(piece);
        (*this)(text, level);
    }

private:
    StringList* log_;
    int threshold_;
};

std::string ExtensionOf(const std::string& path) {
    std::string name = NamePart(path);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// False when the run's transaction cannot note the value first.
bool RegisterFont(WindowsVersion version, const std::string& fontName, const std::string& installed,
                  std::int32_t sourceDate, RunTransaction* run) {
    int code = static_cast<int>(version);
    if (code < 3) return true;
    std::string valueName = fontName + " (TrueType)";
    std::string fileName = NamePart(installed);
    const char* key = code < 7 ? "M\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts"
                               : "M\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    if (run && !run->noteValue(key, valueName)) return false;
    if (version == WindowsVersion::WindowsNT) {
        Fonts().writeProfileString(WindowsFolder + "Win.Ini", "Fonts", valueName.substr(0, 255), installed);
        SetFileDate(installed, sourceDate);
    }
    WriteRegistryString(key, valueName, fileName, "");
    return true;
}

// Moves an installed font that a running program holds out of the way.
void MoveAsideInUse(const std::string& installed, const FontReport& report) {
    report(1, {"Die Schrift ", NamePart(installed), "\r\n", installed,
               "\r\n wird von einer laufenden Anwendung\r\nbenutzt."});
    std::string renamed = UniqueFileName(installed);
    if (Fs().replaceFile(installed, renamed))
        report(1, {installed, " umbenannt in \r\n", renamed});
    else
        report(2, {"Umbenennen von ", installed, " in \r\n", renamed, "\r\ngescheitert"});
}

// Whether the font's registry value names the installed file. Writing it is the
// last step of an installation, so a font that a run copied but could not
// register before it was stopped does not count as installed. Fonts without a
// name of their own (no FONT key) all share the value " (TrueType)", which
// names the last of them: for them a value that names any file counts, or
// every run would register each of them again.
bool Registered(WindowsVersion version, const std::string& fontName, const std::string& installed) {
    int code = static_cast<int>(version);
    if (code < 3) return true;  // these families register nothing
    std::string key = code < 7 ? "M\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts"
                               : "M\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    std::string registered = ReadRegistryString(key, fontName + " (TrueType)", "", "");
    if (fontName.empty()) return !registered.empty();
    return SameText(registered, NamePart(installed));
}

// Where there is no such file, there is nothing to remove and nothing to report:
// the lines would read as failures in the log of every first installation.
void RemoveOldResource(const std::string& resource, bool namedRemoveFont, const FontReport& report) {
    const bool present = FileExists(resource);
    if (!Fonts().removeFontResource(resource) && present)
        report(1, {namedRemoveFont ? "removeFont " : "", resource, ": ", LastErrorText()});
    if (present && !Fs().removeFile(resource)) report(1, {resource, ": not deleted"});
}

// What the system wrote to `path`, put on the disk.
bool Flushed(const std::string& path) {
    std::unique_ptr<FileHandle> file = Fs().open(path, OpenMode::ReadWrite);
    return file && file->flush();
}

}  // namespace

std::string TempFolder() {
    std::string path = Sys().tempPath();
    if (path.empty() || path.size() >= 255) return std::string();
    EnsureTrailingBackslash(path);
    return path;
}

std::string UniqueFileName(const std::string& path) {
    if (!FileExists(path)) return path;
    std::string extension = ExtensionOf(path);
    std::string stem = path.substr(0, path.size() - extension.size());
    for (int n = 0;; ++n) {
        std::string candidate = stem + DecimalText(n) + extension;
        if (!FileExists(candidate)) return candidate;
    }
}

bool InstallFont(const std::string& source, const std::string& fontName, StringList* log, int threshold,
                 RunTransaction* run) {
    FontReport report(log, threshold);
    if (!FileExists(source)) return false;
    bool result = false;
    try {
        const std::string folder = WindowsFolder + "Fonts\\";
        const std::string installed = folder + NamePart(source);
        const std::string resource = folder + fontName + ".FOT";
        const std::string oldResource = folder + fontName + " Standard.FOT";
        std::int32_t sourceDate = FileDateOf(source);

        report(0, {source, " vom ", FileDateText(source)});
        bool present = FileExists(installed);
        if (present) report(1, {installed, " vom ", FileDateText(installed), " ist vorhanden."});
        bool current = CompareFileDates(sourceDate, present ? FileDateOf(installed) : -1) <= 0;
        // A current font that is not registered is registered without copying it again.
        if (current && Registered(DetectWindowsVersion(), fontName, installed)) return true;
        if (current && run && !run->noteFont(installed, false)) return result;
        if (!current) {
            if (run) {
                if (present) Fonts().removeFontResource(installed);
                FindData found;
                Fs().findFirst(source, found);
                if (!run->changeFont(installed, Written{found.size, sourceDate})) {
                    report(2, {installed, " konnte nicht kopiert werden."});
                    return result;
                }
            } else if (present && !Fs().removeFile(installed)) {
                MoveAsideInUse(installed, report);
            }
            if (CopyFileChecked(source, installed, kOverwriteAsk, -1) != 0) {
                report(2, {installed, " konnte nicht kopiert werden."});
                return result;
            }
        }
        // From here on the system's font table counts as changed.
        if (run && !(run->changeFont(oldResource, {}, false) && run->changeFont(resource, {}, false))) {
            report(2, {resource, " konnte nicht erzeugt werden."});
            return result;
        }
        RemoveOldResource(oldResource, false, report);
        RemoveOldResource(resource, true, report);

        WindowsVersion version = DetectWindowsVersion();
        bool nt = static_cast<int>(version) >= 7;
        // The resource file reaches the disk before the font table and the registry name it.
        bool created = Fonts().createScalableFontResource(resource, NamePart(installed), folder) && Flushed(resource);
        if (!nt && !created) {
            report(2, {resource, " konnte nicht erzeugt werden."});
        } else {
            if (!nt) report(0, {resource, "ScalableFontResource Created"});
            std::string added = nt ? installed : resource;
            if (Fonts().addFontResource(added) < 1) {
                report(2, {added, " konnte nicht hinzugefügt werden"});
            } else {
                result = RegisterFont(version, fontName, installed, sourceDate, run);
            }
        }
        Fonts().broadcastFontChange();
        return result;
    } catch (const std::exception& e) {
        report(e.what(), 2);
        return result;
    }
}

bool InstallArchiveFonts(const TArchive& archive, FunctionRef<std::string(const std::string&)> fontNameOf,
                         StringList* log, int threshold, RunTransaction* run) {
    bool allInstalled = true;
    for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
        const std::string& name = archive.entryAt(i).name;
        if (name.find('\\') != std::string::npos || !SameText(ExtensionOf(name), ".TTF")) continue;
        if (!IsContainedRelativePath(name)) continue;  // "/" would leave the temporary folder
        std::string temporary = TempFolder() + name;
        bool outcome = false;
        try {
            outcome = archive.extractFile(i, temporary) && InstallFont(temporary, fontNameOf(name), log, threshold, run);
        } catch (...) {
            Fs().removeFile(temporary);
            throw;
        }
        Fs().removeFile(temporary);
        if (!outcome) allInstalled = false;
    }
    return allInstalled;
}
