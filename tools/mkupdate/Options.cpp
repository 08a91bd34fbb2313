#include "tools/mkupdate/Options.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "tools/mkupdate/Commands.h"
#include "tools/mkupdate/Host.h"

namespace {

std::string commandName;  // "build", "check", ...: names the command in usage errors

}  // namespace

void SetCommandName(const std::string& command) { commandName = command; }

int UsageError(const std::string& reason) {
    std::fprintf(stderr, "mkupdate%s%s: %s\n", commandName.empty() ? "" : " ", commandName.c_str(), reason.c_str());
    return kExitUsage;
}

int Failure(const std::string& reason) {
    std::fprintf(stderr, "mkupdate: %s\n", reason.c_str());
    return kExitDamaged;
}

int UnknownOption(const std::string& arg, std::initializer_list<const char*> valued) {
    for (const char* name : valued)
        if (arg == name) return UsageError(arg + " wants a value");
    return UsageError("unknown option " + arg);
}

int OperandError(const std::vector<std::string>& operands, std::initializer_list<const char*> names) {
    if (operands.size() > names.size()) return UsageError("unexpected argument " + operands[names.size()]);
    if (operands.size() < names.size()) return UsageError(std::string("missing ") + names.begin()[operands.size()]);
    return 0;
}

bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value) {
    const std::string& a = args[i];
    if (a.rfind(name + "=", 0) == 0) {
        value = a.substr(name.size() + 1);
        return true;
    }
    if (a != name || i + 1 >= args.size()) return false;
    value = args[++i];
    return true;
}

int ChooseStamps(const std::optional<std::string>& date, const std::optional<std::string>& zone, StampPolicy& policy,
                 std::int64_t& buildEpoch) {
    std::string error;
    if (zone && !SelectTimeZone(*zone, error)) return UsageError(error);
    std::int32_t stamp = 0;
    CalendarTime t;
    buildEpoch = std::int64_t(std::time(nullptr));
    if (date) {
        if (!ParseDateText(*date, t)) return UsageError("--date wants \"YYYY-MM-DD hh:mm:ss\", not " + *date);
        if (!StampOfCalendar(t, stamp, error)) return UsageError(error);
        if (!EpochOfLocal(t, buildEpoch)) return UsageError("--date " + *date + " names no time of this zone");
        policy.fix(stamp);
        return kExitOk;
    }
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch || !*epoch) return kExitOk;
    char* end = nullptr;
    long long seconds = std::strtoll(epoch, &end, 10);
    if (*end != '\0' || !LocalCalendar(seconds, t)) return UsageError("SOURCE_DATE_EPOCH is not a number of seconds");
    if (!StampOfCalendar(t, stamp, error)) return UsageError("SOURCE_DATE_EPOCH: " + error);
    buildEpoch = seconds;
    policy.fix(stamp);
    return kExitOk;
}
