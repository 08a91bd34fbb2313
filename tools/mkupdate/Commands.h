// The commands of mkupdate; file arguments are host paths in UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "archive/Authenticode.h"

constexpr int kExitOk = 0, kExitDamaged = 1, kExitUsage = 2;

class TArchive;

// Inflates entry `index` whole: empty when it is sound, else the problem.
// `warning` receives a note when the entry inflates to another length than the
// directory records, which alone is no damage (other writers may record that
// field differently), unless its data overlaps another entry's. Where the
// updater's layers raised the problem, `updaterText` receives their (German)
// message, code page 1252.
std::string InflateProblem(const TArchive& archive, std::int32_t index, std::string& warning,
                           std::string& updaterText);

// Opens `file` (a host path, UTF-8) as an updater with an attached archive, or
// else as a stand-alone archive. False with `problem` (English, UTF-8) on
// standard error and the updater's own message in `updaterText` (UTF-8); an
// updater without an archive is named as such.
bool OpenForReading(const std::string& file, TArchive& archive, std::string& problem, std::string& updaterText);

// An error text of the updater's layers (code page 1252) as mkupdate prints it: UTF-8, on one line.
std::string ErrorText(const std::string& cp1252Text);

// One line per entry, or one JSON document with `json`.
int CommandList(const std::string& file, bool json = false);
// With `bases`, every sound patch entry is also applied to the old release's copy of its file.
struct ReleaseBases;
int CommandTest(const std::string& file, const ReleaseBases* bases = nullptr);
int CommandExtract(const std::string& file, const std::string& folder);

// The Authenticode signer of `file` (a host path), checked against the file.
Signer PackageSigner(const std::string& file);
// What the signer of a package is, one line of English; empty for an unsigned file.
std::string SignerText(const Signer& signer);
// The signer's subject and thumbprint, and the command that pins it on a target machine.
int CommandSigner(const std::string& file);
