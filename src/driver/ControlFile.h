// The interpreter of the control file "update.ini": the main section's keys
// set the window's texts and the update-wide settings, every other section
// (but [CheckRun]) becomes one update part.
#pragma once

#include <string>

#include "base/StringList.h"

class TUpdateParts;

// What the control file sets on the main window; the window implements it.
class UpdateView {
protected:
    // Never deleted through this interface: no virtual destructor to keep.
    ~UpdateView() = default;

public:
    virtual void SetUpdateName(const std::string& text) = 0;  // key P
    virtual void SetVersionText(const std::string& text) = 0; // key V
    virtual void SetCoriText(const std::string& text) = 0;    // key CORI
    virtual void setFinalCmd(const std::string& text) = 0;    // key FINALCMD
    virtual void setEMail(const std::string& text) = 0;       // key EMAIL
    virtual void setWww(const std::string& text) = 0;         // key WWW
};

// The seconds of a CHECKWAIT value: a whole number (blanks around it allowed)
// is held to 1..3600, anything else means the default of 60. `exact`, when
// given, says whether the value was written as a number in that range.
constexpr unsigned kDefaultCheckWait = 60;
unsigned CheckWaitSeconds(const std::string& value, bool* exact = nullptr);

// Interprets the lines in order. An error raised by a value (a VCHK without
// its separators) ends the interpretation at that line and propagates; the
// lines before it keep their effect.
void InterpretControlFile(const StringList& lines, TUpdateParts& parts, UpdateView& view);
