// What the commands that read folders share: option parsing, the choice of
// stamps and the messages that end a command.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tools/mkupdate/Stamps.h"

// The command that usage errors name: "mkupdate check: unknown option --jsn".
void SetCommandName(const std::string& command);
// Prints the reason and returns the exit code for bad usage, or for a refusal.
int UsageError(const std::string& reason);
int Failure(const std::string& reason);

// The usage error for an argument that starts with "-" and that no option
// took: one of the `valued` options without its value, or an unknown one.
int UnknownOption(const std::string& arg, std::initializer_list<const char*> valued);
// The usage error when `operands` are not one for each of `names`; 0 when they are.
int OperandError(const std::vector<std::string>& operands, std::initializer_list<const char*> names);

// Accepts "--name VALUE" and "--name=VALUE"; advances `i` past the value.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value);

// Selects the zone of --tz; --date, else SOURCE_DATE_EPOCH, fixes every stamp.
// `buildEpoch` receives the fixed time in seconds since 1970, or the current
// time when nothing fixes it. Returns an exit code.
int ChooseStamps(const std::optional<std::string>& date, const std::optional<std::string>& zone, StampPolicy& policy,
                 std::int64_t& buildEpoch);
