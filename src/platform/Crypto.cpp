// Hasher and VerifyRsaSignature (Crypto.h), one implementation per platform.
#include "platform/Crypto.h"

#ifdef _WIN32
#include "Windows/Crypto.inc"
#else
#include "Native/Crypto.inc"
#endif
