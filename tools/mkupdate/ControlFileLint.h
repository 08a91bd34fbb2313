// A line-level pass over update.ini that follows the updater's grammar and
// reports what the updater would refuse (errors) or silently ignore (warnings).
#pragma once

#include <string>
#include <vector>

#include "base/StringList.h"

struct Finding {
    bool error = false;
    std::string where;  // "update.ini:12", an entry name, ...
    std::string text;   // code page 1252, like the names it quotes
    std::string code;   // a short fixed name of the rule, for build pipelines
    std::string updaterText = {};  // the updater's own (German) message behind the finding, or empty
};

struct FontKey {
    std::string fileName;
    int line = 0;
};

// What the checks of patch entries need to know of a part.
struct PartFacts {
    std::string target;           // TDIR's value as written; empty without TDIR
    bool versionChecked = false;  // the part has a VCHK of its own
};

struct ControlFileFacts {
    std::vector<std::string> parts;  // section names of the parts, in file order
    std::vector<PartFacts> partFacts;  // one for each of `parts`
    bool mainVersionChecked = false;   // the main section has a VCHK
    std::vector<FontKey> fonts;      // FONT keys with a file name
    std::string checkCmd;            // CHECKCMD, the check after the update; empty without
    unsigned checkWait = 0;          // the seconds CHECKWAIT gives the check; 0 without CHECKWAIT
    bool runRollback = false;        // ROLLBACK=1 in the main section
    std::vector<Finding> findings;
};

ControlFileFacts LintControlFile(const StringList& lines);

// Whether the updater's version check `check` accepts `version` (compared as text).
struct TVChkRec;
bool VersionInRange(const std::string& version, const TVChkRec& check);

// Errors about the bytes of update.ini: a UTF-8 byte order mark or UTF-8
// text, which the updater would read as code page 1252.
void LintControlFileEncoding(const std::string& bytes, std::vector<Finding>& findings);
