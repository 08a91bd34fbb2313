// Patch entries in the run's check (StagedEntries::stagePatch): the installed
// file that a patch applies to is read and the new file built into the staged
// copy before anything is changed.
#pragma once

#include "base/Exception.h"

// The installed file is not the one the patch was made for (changed by hand,
// another version), cannot be read, or the new file cannot be staged beside
// it; the message names it, in German.
class InstalledFileDiffers : public Exception {
public:
    using Exception::Exception;
};
