// mkupdate diff --section NAME [--project KEY] [--from VER] [--to VER] [--touch] [--rollback | --rebootok]
//               [--date "YYYY-MM-DD hh:mm:ss"] [--tz ZONE] OLD NEW -o DIR
#pragma once

#include <string>
#include <vector>

// `args` are the arguments after "diff". Returns the exit code.
int CommandDiff(const std::vector<std::string>& args);
