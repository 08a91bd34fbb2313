// Installing the archive's TrueType fonts into the Windows fonts folder and
// registering them for the running Windows family.
#pragma once

#include <cstdint>
#include <string>

#include "base/FunctionRef.h"
#include "base/StringList.h"

class RunTransaction;
class TArchive;

// The system's folder for temporary files with a trailing backslash; empty when unusable.
std::string TempFolder();
// `path` when no file of that name exists, else the first free "name0.ext", "name1.ext", ...
std::string UniqueFileName(const std::string& path);

// Installs one font file under `fontName`. Messages of at least `threshold`
// go to `log`, or to InfoOk boxes when there is no log. True when the font is
// installed and added, or when an equal or newer copy is there already.
// With `run`, the font file and registry value are noted in the run's
// transaction before they change, and a font file that is there is kept aside.
bool InstallFont(const std::string& source, const std::string& fontName, StringList* log, int threshold,
                 RunTransaction* run = nullptr);

// Installs every top-level ".TTF" entry of the archive; false when any font failed.
bool InstallArchiveFonts(const TArchive& archive, FunctionRef<std::string(const std::string&)> fontNameOf,
                         StringList* log, int threshold, RunTransaction* run = nullptr);
