// Whether an entry's relative path stays inside the folder it is extracted to.
#pragma once

#include <string>

// False for an empty path, a leading separator, a drive or any ":" (which also
// names alternate data streams), an empty element, an element made of dots
// and blanks only ("..", and forms that Windows trims to it), and a control
// character (a NUL ends the path early). Both "\" and "/" separate elements,
// as they do for Windows.
bool IsContainedRelativePath(const std::string& path);
