// What the commands that read folders share: option parsing, the choice of
// stamps and the messages that end a command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/mkupdate/Stamps.h"

// Prints the reason and returns the exit code for bad usage, or for a refusal.
int UsageError(const std::string& reason);
int Failure(const std::string& reason);

// Accepts "--name VALUE" and "--name=VALUE"; advances `i` past the value.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value);

// Selects the zone of --tz; --date, else SOURCE_DATE_EPOCH, fixes every stamp.
// `buildEpoch` receives the fixed time in seconds since 1970, or the current
// time when nothing fixes it. Returns an exit code.
int ChooseStamps(const std::optional<std::string>& date, const std::optional<std::string>& zone, StampPolicy& policy,
                 std::int64_t& buildEpoch);
