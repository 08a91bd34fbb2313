// Text helpers on 8-bit code page 1252 strings. Positions count from 1, as
// the control file and the messages count them. Blank means the space (32) only.
#pragma once

#include <string>

#include "base/Text.h"

char FirstChar(const std::string& text);  // a blank for the empty text
char LastChar(const std::string& text);   // a blank for the empty text
std::string DropLastChar(const std::string& text);

void TrimRightBlanks(std::string& text);
void TrimLeftBlanks(std::string& text);
void TrimBlanks(std::string& text);

void StripQuotes(std::string& text);
std::string CutAtQuestionMark(const std::string& text);
// Position (from 1) of the first `c` at or after `start`; 0 when there is none.
int FindCharFrom(char c, const std::string& text, int start);
// Moves the cursor to the first `c` or the terminating NUL and returns the character there.
char skipTo(char c, const char*& cursor);

