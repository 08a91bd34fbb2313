// mkupdate check DIR|FILE: what a package author wants told before shipping.
#pragma once

#include <string>

// Prints errors and warnings, as text or as one JSON document; 1 when there
// are errors, 0 otherwise.
int CommandCheck(const std::string& target, bool json = false);
