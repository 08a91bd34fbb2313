// The update parts of a package and the update-wide settings of its control
// file. Every section of "update.ini" other than [CheckRun] is one part: the
// archive entries of one installed application, the folder they go to, the
// range of installed versions they fit and the registry value that records
// the new version.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/StringList.h"
#include "update/PartTargets.h"
#include "update/VersionCheck.h"

class PartWriter;
class RunTransaction;
class StagedEntries;
class TUpdateParts;

// The lowest log level that reaches the log: 2 normally, 1 for the extended
// log. The main window sets it; log levels are 0 trace, 1 detail, 2 result or error.
extern std::uint8_t LogThreshold;

// Attaches a second string to a string-list entry.
class TStringObject {
public:
    explicit TStringObject(std::string text) : Text(std::move(text)) {}
    std::string Text;
};

// One entry of FontList: the font file's name and the name the font is registered under.
struct TFontListEntry {
    std::string FileName;
    std::unique_ptr<TStringObject> FontName;
};

class TUpdatePart {
public:
    TUpdatePart(TUpdateParts& owner, const std::string& sectionName);
    TUpdatePart(const TUpdatePart&) = delete;
    TUpdatePart& operator=(const TUpdatePart&) = delete;

    // Resolves a TDIR value: "%WINSYS%" (any case, blanks inside allowed) the
    // system folder, "§" + value reference a folder read from the registry,
    // anything else the folder as written. Never fails.
    void SetTDir(const std::string& value);
    // Parses a VCHK value into VChk; parse errors propagate.
    void SetVChk(const std::string& value);
    void ResetCounters();

    TUpdateParts* Owner;
    std::string SectionName;
    std::string TargetFolder;     // ends with "\" unless empty
    std::string AltTargetFolder;  // the second system folder for "%WINSYS%", ends with "\"
    std::int32_t AddedCount = 0;
    std::int32_t UpdatedCount = 0;
    std::int32_t KeptCount = 0;
    std::int32_t DeletedCount = 0;
    std::int32_t ErrorCount = 0;
    TVChkRec VChk;
    std::string VResult;
    std::string DisplayName;
    std::string SectionPrefix;  // SectionName + "\"
    bool Rollback = false;               // ROLLBACK=1: all of the part's changes or none
    bool RebootOk = false;               // REBOOTOK=1: a file held open is replaced at the next start of Windows
    std::vector<std::string> HeldUntilRestart;  // such files of this run (REBOOTOK), as the check found them
    PartWriter* Writer = nullptr;  // not owned; set while a part with rollback is applied (nullptr: in place)
    std::vector<PartTarget> Targets;  // what the part does, path by path, once a run has planned it (PlanTargets)
    bool TargetsPlanned = false;
};

class TUpdateParts {
public:
    TUpdateParts() = default;
    TUpdateParts(const TUpdateParts&) = delete;
    TUpdateParts& operator=(const TUpdateParts&) = delete;

    // Creates a part for the section, appends it and returns it.
    TUpdatePart& Add(const std::string& sectionName);
    std::size_t Count() const { return Items.size(); }
    TUpdatePart& operator[](std::size_t index) { return *Items[index]; }
    const TUpdatePart& operator[](std::size_t index) const { return *Items[index]; }

    // Appends `text` to Log when `level` is at least LogThreshold.
    void LogMessage(const std::string& text, int level) const;
    // The font name of the first FontList entry whose file name equals `fileName`
    // ignoring case; empty when there is none.
    std::string FontNameOf(const std::string& fileName) const;
    // True when no CheckRun file is in use (FileInUse); otherwise the
    // first one in use is named in a message box and the result is false.
    bool CheckFilesFree() const;
    // The first CheckRun file in use, as its line expands; empty when there is none.
    std::string FirstCheckRunFileInUse() const;
    // Writes a VRESULT text (registry path "=" value); nothing without "=".
    static void WriteResultValue(const std::string& text);
    // The same, in a run with a transaction after its previous state is noted;
    // false (nothing written) when that cannot be noted.
    bool WriteResult(const std::string& text) const;

    std::vector<std::unique_ptr<TUpdatePart>> Items;
    StringList* Log = nullptr;  // not owned; set by each run
    StagedEntries* Staging = nullptr;  // not owned; entries a run staged, while it applies the parts
    RunTransaction* Transaction = nullptr;  // not owned; the run's transaction, while a transactional run applies
    bool RestartNeeded = false;        // a part scheduled files for the next start of Windows
    TVChkRec MainVChk;
    std::string VResult;
    // The check after the update (CHECKCMD, placeholders as in FINALCMD) and
    // the seconds it may take (CHECKWAIT, 1 to 3600).
    std::string CheckCmd;
    unsigned CheckWait = 60;
    bool RunRollback = false;  // ROLLBACK=1 in the main section
    // The run is all or nothing across its parts: a check follows it, or the
    // main section asks for rollback.
    bool Transactional() const { return RunRollback || !CheckCmd.empty(); }
    StringList CheckRunList;
    std::vector<TFontListEntry> FontList;
};
