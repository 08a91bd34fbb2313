#include "driver/CommandLine.h"

#include <cstdlib>

#include "env/Text.h"

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    std::string current;
    bool quoted = false, any = false;
    for (char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) args.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) args.push_back(current);
    return args;
}

namespace {

// "/NAME=value" or "-NAME=value": true when the switch is `name`, with `value` after "=".
bool SwitchWithValue(const std::string& arg, const std::string& name, std::string& value) {
    std::string head = "/" + name + "=";
    if (arg.size() < head.size() || (arg[0] != '/' && arg[0] != '-')) return false;
    if (!SameText(arg.substr(1, head.size() - 1), head.substr(1))) return false;
    value = arg.substr(head.size());
    return true;
}

bool IsSwitch(const std::string& arg, const std::string& name) {
    return arg.size() == name.size() + 1 && (arg[0] == '/' || arg[0] == '-') && SameText(arg.substr(1), name);
}

}  // namespace

namespace {

// The switches that installers of other makes know and administrators type from habit.
bool IsSilentSwitch(const std::string& arg) {
    return IsSwitch(arg, "S") || IsSwitch(arg, "SILENT") || IsSwitch(arg, "VERYSILENT");
}

// No message box and no restart happen in a silent run anyway.
bool IsIgnoredSwitch(const std::string& arg) {
    return IsSwitch(arg, "SUPPRESSMSGBOXES") || IsSwitch(arg, "NORESTART");
}

}  // namespace

bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options, std::string& error) {
    options = LaunchOptions();
    error.clear();
    bool silent = false, unpack = false, waitGiven = false;
    std::string unknown;  // the first argument that the updater does not know
    // Every argument is read, even after an error, so that a silent run still
    // knows its log file and can write the error into it.
    auto fail = [&](const std::string& text) {
        if (error.empty()) error = text;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (IsSwitch(arg, "?") || IsSwitch(arg, "H") || IsSwitch(arg, "HELP")) {
            options.help = true;
        } else if (IsSilentSwitch(arg)) {
            silent = true;
        } else if (IsIgnoredSwitch(arg)) {
            continue;
        } else if (IsSwitch(arg, "V")) {
            options.extendedLog = true;
        } else if (IsSwitch(arg, "UNDO")) {
            options.undo = true;
        } else if (IsSwitch(arg, "FINALCMD")) {
            options.runFinalCommand = true;
        } else if (SwitchWithValue(arg, "LOG", value) || IsSwitch(arg, "LOG")) {
            if (IsSwitch(arg, "LOG") && i + 1 < args.size()) value = args[++i];
            if (value.empty()) fail("/LOG= braucht einen Dateinamen.");
            options.logPath = value;
        } else if (SwitchWithValue(arg, "WAIT", value)) {
            if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos)
                fail("/WAIT= braucht eine Zahl von Sekunden.");
            else
                options.waitSeconds = unsigned(std::strtoul(value.c_str(), nullptr, 10));
            waitGiven = true;
        } else if (SwitchWithValue(arg, "UNPACK", value)) {
            if (value.empty()) fail("/UNPACK= braucht einen Ordner.");
            unpack = true;
            options.unpackFolder = value;
        } else if (unknown.empty()) {
            unknown = arg;
        }
    }
    // A question for the switches is answered whatever else the line holds; a
    // run without a window answers it in its log, never in a window.
    if (options.help) {
        error.clear();
        options.mode = silent ? LaunchMode::Silent : unpack ? LaunchMode::Unpack : LaunchMode::Help;
        return true;
    }
    // A run without a window refuses what it does not know; the window opens
    // all the same (a shortcut or a distribution tool may add a file name).
    if (!unknown.empty() && (silent || unpack)) fail("Unbekannter Schalter: " + unknown);
    if (silent && unpack) fail("/S und /UNPACK= schließen einander aus.");
    // An undo never starts the final command.
    if (options.undo && (unpack || options.runFinalCommand)) fail("/UNDO gilt nicht mit /UNPACK= oder /FINALCMD.");
    bool needsSilent = options.extendedLog || options.runFinalCommand || !options.logPath.empty() || waitGiven;
    if (needsSilent && !silent) fail("/V, /LOG=, /FINALCMD und /WAIT= gelten nur mit /S.");
    options.mode = silent ? LaunchMode::Silent : unpack ? LaunchMode::Unpack : LaunchMode::Window;
    return error.empty();
}

// In columns that blanks align: the window shows it in a fixed-pitch font.
std::string UsageText() {
    return "Aufruf: update.exe [/S [/V] [/LOG=Datei] [/FINALCMD] [/WAIT=Sekunden]] [/UNDO]\r\n"
           "                  | [/UNPACK=Ordner] | [/?]\r\n"
           "\r\n"
           "Ohne Schalter öffnet sich das Fenster des Updates.\r\n"
           "/S               Update ohne Fenster ausführen (auch /SILENT, /VERYSILENT)\r\n"
           "/V               erweitertes Protokoll (mit /S)\r\n"
           "/LOG=Datei       Protokoll in eine Datei schreiben (mit /S; auch /LOG Datei)\r\n"
           "/FINALCMD        abschließenden Befehl nach Erfolg starten (mit /S)\r\n"
           "/WAIT=Sekunden   so lange auf benutzte Dateien und ein anderes Update\r\n"
           "                 warten (mit /S)\r\n"
           "/UNDO            letztes Update zurücknehmen (ohne /S nach Rückfrage)\r\n"
           "/UNPACK=Ordner   alle Dateien des Updates in den Ordner auspacken\r\n"
           "/?               diese Hilfe (mit /S oder /UNPACK= ohne Fenster: ins\r\n"
           "                 Protokoll und die Standardausgabe, Rückgabewert 4)\r\n"
           "/SUPPRESSMSGBOXES und /NORESTART werden angenommen und übergangen.\r\n"
           "\r\n"
           "Rückgabewerte:\r\n"
           "   0             Update ausgeführt\r\n"
           "   1             Update nicht erfolgreich\r\n"
           "   2             Update nicht ladbar\r\n"
           "   3             Abbruch durch Fehler\r\n"
           "   4             falscher Aufruf oder Protokoll nicht schreibbar\r\n"
           "   5             nichts zu tun: installierte Version neuer als dieses Update\r\n"
           "                 (/UNDO: nichts zurückzunehmen)\r\n"
           "   6             Update zurückgenommen: Prüfung fehlgeschlagen\r\n"
           "1618             Dateien werden benutzt (auch aus [CheckRun]) oder ein\r\n"
           "                 anderes Update läuft: nichts geändert\r\n"
           "3010             Update ausgeführt, einige Dateien werden beim nächsten\r\n"
           "                 Neustart ersetzt";
}
