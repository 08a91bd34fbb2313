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

namespace {

// The release of the tool, the same as the updater's version record.
constexpr const char* kVersion = "1.0.0";

void Usage(std::FILE* to) {
    std::fputs(
        "usage: mkupdate build [--stub update.exe] [--date \"YYYY-MM-DD hh:mm:ss\"] [--tz ZONE]\n"
        "                      [--threads N] -o OUT DIR\n"
        "       mkupdate diff --section NAME [--project KEY] [--from VER[..VER]] [--to VER] [--touch]\n"
        "                     [--rollback | --rebootok] [--patch] [--date \"YYYY-MM-DD hh:mm:ss\"] [--tz ZONE]\n"
        "                     OLD NEW -o DIR\n"
        "       mkupdate check [--json] DIR|FILE\n"
        "       mkupdate list [--json] FILE\n"
        "       mkupdate test FILE\n"
        "       mkupdate extract FILE DIR\n"
        "       mkupdate help | --help | --version\n"
        "FILE is an updater with an attached archive or a stand-alone archive.\n"
        "build: stamps are the files' modification times as local time of ZONE (default: this\n"
        "machine's); --date or SOURCE_DATE_EPOCH fixes them. Without --stub OUT is a stand-alone archive.\n"
        "diff: the package folder of an update from release OLD to release NEW of an application.\n",
        to);
}

int Dispatch(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "build") return CommandBuild(std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "diff") return CommandDiff(std::vector<std::string>(args.begin() + 1, args.end()));
    bool json = args.size() == 3 && args[1] == "--json";
    if (command == "check" && (args.size() == 2 || json)) return CommandCheck(args.back(), json);
    if (command == "list" && (args.size() == 2 || json)) return CommandList(args.back(), json);
    if (command == "test" && args.size() == 2) return CommandTest(args[1]);
    if (command == "extract" && args.size() == 3) return CommandExtract(args[1], args[2]);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    if (args.empty()) {
        Usage(stderr);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        Usage(stdout);
        return kExitOk;
    }
    if (args[0] == "--version") {
        std::printf("mkupdate %s\n", kVersion);
        return kExitOk;
    }
    int rc = Dispatch(args);
    if (rc == kExitUsage) Usage(stderr);
    return rc;
}
