// The PAT4 form of a patch (ArchiveFormat.h): the layout and control records,
// the diff tokens and the extra bytes, each deflated as a stream of its own
// and cut into chunks placed where the applier first needs their bytes.
#pragma once

#include <cstddef>
#include <string>

#include "archive/ArchiveFormat.h"
#include "archive/Patch.h"

// A diff run of `count` bytes as PAT2 tokens, appended to `out`.
void PutTokens(std::string& out, const char* diff, std::size_t count);

// The PAT4 patch of `header`'s files from PAT1 records (12-byte control
// records, diff bytes as they are) and a layout (empty: none). `piece`: the
// most a chunk inflates to; larger than the applier's piece only for tests.
std::string StreamedPatch(PatchHeader header, const std::string& layout, const std::string& records,
                          std::size_t piece = kPatchPiece);
