#include "tools/mkupdate/Check.h"

#include "tools/mkupdate/Commands.h"

int CommandCheck(const std::string&) { return kExitOk; }
