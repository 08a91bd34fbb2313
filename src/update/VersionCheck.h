// Version checks: an installed version, read as text from the registry, must
// lie between an earliest and a latest version. Versions are plain texts
// compared byte by byte; they are never split into numbers.
#pragma once

#include <string>

// The three texts of a version check, in the order of the VCHK value.
struct TVChkRec {
    std::string Earliest;  // empty: no lower bound
    std::string Source;    // value reference of the registry value holding the installed version
    std::string Latest;
};

// Results of EvaluateVChk.
enum : int {
    kVChkPassed = 0,       // no range, or the installed version lies within it
    kVChkUnknown = 1,      // the installed version cannot be read (missing or empty)
    kVChkTooNew = 2,       // installed later than Latest
    kVChkTooOld = 3,       // installed earlier than Earliest
    kVChkReversed = -2,    // Latest earlier than Earliest; the message box has been shown
};

// Byte-wise unsigned comparison; a text that is a prefix of the other is the smaller.
int CompareVersions(const std::string& a, const std::string& b);

// Fills `record` from earliest "<" ["="] source "<" ["="] latest. Raises an
// Exception when a separator is missing; fields assigned before keep their values.
void ParseVChk(const std::string& text, TVChkRec& record);

// Reads the installed version anew and returns one of the results above.
int EvaluateVChk(const TVChkRec& record);
// The same result without the message box of a reversed range: for a look
// ahead at what applying the part will decide.
int ClassifyVChk(const TVChkRec& record);

// The log line of a check of `project`'s installed version that gave `result`
// (of EvaluateVChk): why the update is not run; empty for a result without one.
std::string VersionRefusal(const std::string& project, const TVChkRec& record, int result);
