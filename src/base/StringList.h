// Ordered lists of 8-bit texts: control-file lines, the deletion list, the log.
#pragma once

#include <string>
#include <vector>

using StringList = std::vector<std::string>;
