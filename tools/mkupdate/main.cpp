// mkupdate: the package tool. Lists, tests and extracts update archives,
// attached to an updater or standing alone.
//
// Exit codes: 0 success, 1 a damaged or unreadable archive, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/mkupdate/Commands.h"

namespace {

void Usage() {
    std::fputs(
        "usage: mkupdate list FILE\n"
        "       mkupdate test FILE\n"
        "       mkupdate extract FILE DIR\n"
        "FILE is an updater with an attached archive or a stand-alone archive.\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        Usage();
        return args.empty() ? kExitUsage : 0;
    }
    const std::string& command = args[0];
    if (command == "list" && args.size() == 2) return CommandList(args[1]);
    if (command == "test" && args.size() == 2) return CommandTest(args[1]);
    if (command == "extract" && args.size() == 3) return CommandExtract(args[1], args[2]);
    Usage();
    return kExitUsage;
}
