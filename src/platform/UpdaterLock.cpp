#include "platform/UpdaterLock.h"

#ifdef _WIN32
#include "Windows/UpdaterLock.inc"
#else
#include "Native/UpdaterLock.inc"
#endif
