// The machine-readable forms of `list --json` and `check --json`: one JSON
// document on standard output, texts in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/Authenticode.h"
#include "tools/mkupdate/ControlFileLint.h"

struct ListedEntry {
    std::string name;  // UTF-8
    std::int64_t size = 0, stored = 0;
    int segments = 0;  // -1 when a length field lies outside the file
    std::string date;  // "YYYY-MM-DD hh:mm:ss"
    bool patch = false;                      // a patch entry (pat\...)
    std::int64_t patchFrom = -1, patchTo = -1;  // its header's old and new sizes; -1 when damaged
};

// A patch that `check --base` applied to the old release; UTF-8.
struct AppliedPatch {
    std::string name;
    std::string result;  // "right", or the code of its finding
    std::string text;
};

// With `signer`, "signer": null for an unsigned file, else its subject, thumbprint and
// whether the signature matches the file ("signature_matches"). With `control`, the run's
// settings of its update.ini where it has them: "check_cmd" with "check_wait" (the
// seconds the updater gives the check), "rollback": true for a main ROLLBACK=1.
void PrintListJson(const std::string& file, const std::vector<ListedEntry>& entries, const Signer* signer = nullptr,
                   const ControlFileFacts* control = nullptr);
// `findings` in UTF-8; a finding's updater text, where it has one, as "updater_text";
// with `patches`, what came of each patch applied to the old release, as "patches".
void PrintCheckJson(const std::string& target, const std::vector<Finding>& findings, int errors,
                    const std::vector<AppliedPatch>* patches = nullptr, const Signer* signer = nullptr);
// A package that could not be read at all: {"<subjectKey>": subject, "error": error}, and
// "updater_text" with the updater's own message where there is one; all in UTF-8.
void PrintOpenErrorJson(const char* subjectKey, const std::string& subject, const std::string& error,
                        const std::string& updaterText = "");
