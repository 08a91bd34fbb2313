// Patch entries in the run's check (StagedEntries::stagePatch): the installed
// file that a patch applies to is read and the new file built into the staged
// copy before anything is changed.
#pragma once

#include <cstdint>
#include <string>

#include "base/Exception.h"

class FileHandle;
class TArchive;

// The installed file is not the one the patch was made for (changed by hand,
// another version) or cannot be read; the message names it, in German.
class InstalledFileDiffers : public Exception {
public:
    using Exception::Exception;
};

// Builds the new file of patch entry `index` from the installed file
// `installed` into `out`; true when it is complete, its size and CRC-32 as
// the patch says.
bool WritePatchedFile(const TArchive& archive, std::int32_t index, const std::string& installed, FileHandle& out);
