// Loading DLLs only from where Windows keeps them; the Windows build only.
#ifdef _WIN32
#include "Windows/SystemLibrary.inc"
#endif
