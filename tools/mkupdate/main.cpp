// mkupdate: the package tool. Builds update packages, checks them, and lists,
// tests and extracts update archives, attached to an updater or standing alone.
//
// Exit codes: 0 success, 1 a damaged or unreadable archive or a refused
// package, 2 bad usage.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/mkupdate/Build.h"
#include "tools/mkupdate/Check.h"
#include "tools/mkupdate/Commands.h"
#include "tools/mkupdate/Diff.h"
#include "tools/mkupdate/Host.h"
#include "tools/mkupdate/Options.h"
#include "tools/mkupdate/PatchBases.h"

namespace {

// The release of the tool, the same as the updater's version record.
constexpr const char* kVersion = "1.0.0";

struct CommandUsage {
    const char* name;
    const char* text;
};

const CommandUsage kUsages[] = {
    {"build",
     "usage: mkupdate build [--stub update.exe] [--date \"YYYY-MM-DD hh:mm:ss\"] [--tz ZONE]\n"
     "                      [--threads N] [--force] -o OUT DIR\n"
     "  a package from DIR; stamps are the files' modification times as local time of ZONE\n"
     "  (default: this machine's); --date or SOURCE_DATE_EPOCH fixes them. Without --stub OUT is\n"
     "  a stand-alone archive. Refused when check finds errors in DIR, unless --force.\n"},
    {"diff",
     "usage: mkupdate diff --section NAME [--project KEY] [--from VER[..VER]] [--to VER] [--touch]\n"
     "                     [--rollback | --rebootok] [--patch] [--date \"YYYY-MM-DD hh:mm:ss\"] [--tz ZONE]\n"
     "                     [--check-cmd CMD [--check-wait N]] OLD NEW -o DIR\n"
     "  the package folder of an update from release OLD to release NEW of an application.\n"
     "  --check-cmd: a command run after the update (CHECKCMD); unless it ends with 0 within N\n"
     "  seconds (CHECKWAIT, 1 to 3600, default 60), the whole update is undone.\n"},
    {"check",
     "usage: mkupdate check [--json] [--base OLD | --base SECTION=OLD ...] DIR|FILE\n"
     "  errors and warnings for package authors; exit 1 on errors. With --base, every patch is\n"
     "  applied to the old release's file (OLD/<path>) and its result compared with its header.\n"},
    {"list", "usage: mkupdate list [--json] FILE\n  one line per entry: name, size, stored size, segments, date.\n"},
    {"test",
     "usage: mkupdate test [--base OLD | --base SECTION=OLD ...] FILE\n"
     "  inflates every entry and checks it; with --base also applies every patch as check does.\n"},
    {"extract", "usage: mkupdate extract FILE DIR\n  every entry below DIR.\n"},
    {"signer",
     "usage: mkupdate signer FILE\n  the Authenticode signer of FILE: subject, SHA-256 thumbprint, whether the\n"
     "  signature matches the file, and the reg add command that pins it on a target machine.\n"},
};

const CommandUsage* UsageOf(const std::string& command) {
    for (const CommandUsage& u : kUsages)
        if (command == u.name) return &u;
    return nullptr;
}

void Usage(std::FILE* to) {
    for (const CommandUsage& u : kUsages) std::fputs(u.text, to);
    std::fputs("usage: mkupdate help [COMMAND] | --help | --version\n"
               "FILE is an updater with an attached archive or a stand-alone archive.\n"
               "Options may stand before or after the operands; \"--\" ends the options.\n",
               to);
}

// The operands of check, list, test and extract, named in `names` ("FILE",
// "DIR"); "--json" anywhere where `json` is given, "--base" where `bases` is.
int Operands(const std::vector<std::string>& args, bool* json, const std::vector<const char*>& names,
             std::vector<std::string>& operands, ReleaseBases* bases = nullptr) {
    bool optionsEnded = false;
    std::string value;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") optionsEnded = true;
        else if (!optionsEnded && json && a == "--json") *json = true;
        else if (!optionsEnded && bases && TakeValue(args, i, "--base", value)) {
            if (std::string error = AddBase(value, *bases); !error.empty()) return UsageError(error);
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-')
            return bases ? UnknownOption(a, {"--base"}) : UsageError("unknown option " + a);
        else if (operands.size() == names.size()) return UsageError("unexpected argument " + a);
        else operands.push_back(a);
    }
    if (operands.size() < names.size()) return UsageError(std::string("missing ") + names[operands.size()]);
    return kExitOk;
}

int Dispatch(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "build") return CommandBuild(rest);
    if (command == "diff") return CommandDiff(rest);
    bool json = false;
    std::vector<std::string> op;
    ReleaseBases bases;
    if (command == "check") {
        if (int rc = Operands(args, &json, {"DIR|FILE"}, op, &bases)) return rc;
        return CommandCheck(op[0], json, &bases);
    }
    if (command == "list") {
        if (int rc = Operands(args, &json, {"FILE"}, op)) return rc;
        return CommandList(op[0], json);
    }
    if (command == "test") {
        if (int rc = Operands(args, nullptr, {"FILE"}, op, &bases)) return rc;
        return CommandTest(op[0], &bases);
    }
    if (command == "signer") {
        if (int rc = Operands(args, nullptr, {"FILE"}, op)) return rc;
        return CommandSigner(op[0]);
    }
    if (command != "extract") return UsageError("unknown command " + command);
    if (int rc = Operands(args, nullptr, {"FILE", "DIR"}, op)) return rc;
    return CommandExtract(op[0], op[1]);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    if (args.empty()) {
        Usage(stderr);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        const CommandUsage* one = args.size() > 1 ? UsageOf(args[1]) : nullptr;
        if (one) std::fputs(one->text, stdout);
        else Usage(stdout);
        return kExitOk;
    }
    if (args[0] == "--version") {
        std::printf("mkupdate %s\n", kVersion);
        return kExitOk;
    }
    const CommandUsage* usage = UsageOf(args[0]);
    if (usage) SetCommandName(usage->name);
    int rc = Dispatch(args);
    if (rc != kExitUsage) return rc;
    if (usage) std::fputs(usage->text, stderr);
    else Usage(stderr);
    return rc;
}
