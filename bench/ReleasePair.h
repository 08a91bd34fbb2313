// Two releases of an application for the patch figures and the patch
// end-to-end test: a program (PE) of about 6 MB that looks like a compiled one
// (code from a small instruction vocabulary with absolute addresses and
// relative calls, strings, embedded compressed resources), whose next release
// inserts functions and strings so that much of the code moves and its
// addresses change; a data file with a few changed lines; an unchanged
// library; a file that goes and one that comes. Fixed seed: the same bytes on
// every machine. Contents only; the caller sets the modification times.
#pragma once

#include <string>

// Writes OLD and NEW (created when missing).
void WriteReleasePair(const std::string& oldDir, const std::string& newDir);
// The program of that pair alone, as OLD_FILE and NEW_FILE; `wide`: as a
// 64-bit program (PE32+, data reached relative to the instruction).
void WriteProgramPair(const std::string& oldFile, const std::string& newFile, bool wide);
