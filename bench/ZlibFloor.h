// The floor that applying a package is measured against: the same zlib
// streams inflated with zlib alone into a memory buffer and written with
// plain write calls, one file per entry, folders created as needed.
#pragma once

#include <cstdint>
#include <string>

// Writes every entry whose name starts with `prefix` (e.g. "add\App\") below
// `outRoot`, the rest of the name as the relative path. Returns the bytes written.
std::int64_t ExtractWithZlib(const std::string& archivePath, const std::string& prefix, const std::string& outRoot);

// The --child-floor entry of the benchmark program (for profiling): the part "App" of `package`.
int ChildFloor(const std::string& package, const std::string& outRoot);
