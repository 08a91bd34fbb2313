// The careful copy: decides by time stamps, sizes and contents whether an
// existing destination may be overwritten, and asks the user when the
// destination looks newer or different. The font installer copies with it.
#pragma once

#include <cstdint>
#include <string>

// Results of CopyFileChecked.
enum : int {
    kCopyDone = 0,       // written completely, or left because it is current or the user said No
    kCopyFailed = 1,     // source missing or unreadable, destination not writable, or a short write
    kCopyCancelled = 2,  // the user answered Cancel; the destination is unchanged
};

// The overwrite mode that asks when the destination is newer or different;
// the only one callers use, and the rule CopyFileChecked applies for any mode.
constexpr std::uint8_t kOverwriteAsk = 3;

// Size of the blocks copied between two turns of the message loop.
constexpr std::size_t kCopyBlockSize = 65281;

// Copies `source` to `destination` under the overwrite rules. A copy carries
// the later of the source's stamp and `minimumStamp`. The destination is only
// ever replaced by a complete copy: the bytes go to a temporary file beside it
// that is renamed over it at the end. Raises EInOutError when the platform
// reports a read or write error, EAbort when memory runs out.
int CopyFileChecked(const std::string& source, const std::string& destination, std::uint8_t mode,
                    std::int32_t minimumStamp);
