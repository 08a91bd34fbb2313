// mkupdate check DIR|FILE: what a package author wants told before shipping.
#pragma once

#include <string>

// Prints errors and warnings; 1 when there are errors, 0 otherwise.
int CommandCheck(const std::string& target);
