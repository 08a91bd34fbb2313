// mkupdate build [--stub update.exe] [--date "YYYY-MM-DD hh:mm:ss"] [--tz ZONE]
//                [--threads N] -o OUT DIR
#pragma once

#include <string>
#include <vector>

// `args` are the arguments after "build". Returns the exit code.
int CommandBuild(const std::vector<std::string>& args);
