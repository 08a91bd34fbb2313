#include "driver/CommandLine.h"

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

bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options, std::string& error) {
    options = LaunchOptions();
    bool silent = false, unpack = false;
    std::string unknown;  // the first argument that the updater does not know
    for (const std::string& arg : args) {
        std::string value;
        if (IsSwitch(arg, "?") || IsSwitch(arg, "H") || IsSwitch(arg, "HELP")) {
            options.mode = LaunchMode::Help;
            return true;
        }
        if (IsSwitch(arg, "S")) {
            silent = true;
        } else if (IsSwitch(arg, "V")) {
            options.extendedLog = true;
        } else if (IsSwitch(arg, "FINALCMD")) {
            options.runFinalCommand = true;
        } else if (SwitchWithValue(arg, "LOG", value)) {
            if (value.empty()) return error = "/LOG= braucht einen Dateinamen.", false;
            options.logPath = value;
        } else if (SwitchWithValue(arg, "UNPACK", value)) {
            if (value.empty()) return error = "/UNPACK= braucht einen Ordner.", false;
            unpack = true;
            options.unpackFolder = value;
        } else if (unknown.empty()) {
            unknown = arg;
        }
    }
    if (silent && unpack) return error = "/S und /UNPACK= schließen einander aus.", false;
    // A run without a window refuses what it does not know; the window opens
    // all the same (a shortcut or a distribution tool may add a file name).
    if (!unknown.empty() && (silent || unpack)) return error = "Unbekannter Schalter: " + unknown, false;
    bool needsSilent = options.extendedLog || options.runFinalCommand || !options.logPath.empty();
    if (needsSilent && !silent) return error = "/V, /LOG= und /FINALCMD gelten nur mit /S.", false;
    options.mode = silent ? LaunchMode::Silent : unpack ? LaunchMode::Unpack : LaunchMode::Window;
    return true;
}

std::string UsageText() {
    return "Aufruf: update.exe [/S [/V] [/LOG=Datei] [/FINALCMD]] | [/UNPACK=Ordner] | [/?]\r\n"
           "\r\n"
           "Ohne Schalter öffnet sich das Fenster des Updates.\r\n"
           "/S            Update ohne Fenster ausführen\r\n"
           "/V            erweitertes Protokoll (mit /S)\r\n"
           "/LOG=Datei    Protokoll in eine Datei schreiben (mit /S)\r\n"
           "/FINALCMD     abschließenden Befehl nach Erfolg starten (mit /S)\r\n"
           "/UNPACK=Ordner  alle Dateien des Updates in den Ordner auspacken\r\n"
           "/?            diese Hilfe\r\n"
           "\r\n"
           "Rückgabewerte: 0 Update ausgeführt, 1 Update nicht erfolgreich,\r\n"
           "2 Update nicht ladbar, 3 Abbruch durch Fehler, 4 falscher Aufruf.";
}
