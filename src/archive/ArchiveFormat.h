// The packed archive, as it is appended to the updater or stands alone.
//
// All integers are little-endian, fields follow one another without gaps.
// Every size and offset is a signed 32-bit value (host and archive stay below 2 GiB).
//
//   Host        0 .. B-1      the updater executable, unchanged (absent when B = 0)
//   Directory   B             header and entry records
//   Data area   B + D         the entries' segments
//   Tail        last 8 bytes  s32 base offset B, s32 magic 0x1111 (11 11 00 00)
//
// A stand-alone archive has B = 0; whatever follows its data is never read.
//
// Directory header (at B):
//   +0  s32 directory size D = 12 + sum over entries of (20 + name length)
//   +4  s32 entry count N (0 or less: no entries)
//   +8  s32 segmentSize, 1,048,576 in shipped archives; bounds the first read buffer
//   +12 N entry records back to back
//
// Entry record (20 + L bytes):
//   +0  s32 nameLength L, 0..127, taken from the low-order byte
//   +4  s32 dataOffset of the first segment, relative to B
//   +8  s32 unpackedSize (informational)
//   +12 s32 storedSize, bounds the segment walk (below)
//   +16 u32 fileDate, MS-DOS date and time, local time
//   +20 L bytes of name, code page 1252, backslash-separated, no terminator
//
// Segment (from B + dataOffset, one after the other):
//   +0  s32 length S of the zlib stream
//   +4  S bytes: one complete zlib stream (RFC 1950, 32 KiB window, no preset dictionary)
//
// The walk of an entry keeps a position that starts at 0 and grows by 4 + S
// after each segment; the entry is complete as soon as the position reaches
// storedSize. An empty file is one segment holding 78 9C 03 00 00 00 00 01.
//
// Patch entry data (an entry named pat\<Section>\<path>, inflated as any entry):
// it turns one exact installed file (the old file) into the new one.
//   +0  u32 magic 0x31544150 ("PAT1"), 0x32544150 ("PAT2": sparse diff bytes,
//       below) or 0x33544150 ("PAT3": PAT2 with predicted references, below)
//   +4  s32 size of the old file
//   +8  u32 CRC-32 of the old file (that of zlib's crc32)
//   +12 s32 size of the new file
//   +16 u32 CRC-32 of the new file
//   +20 one zlib stream to the end of the data; inflated, it holds records
//       back to back until they have made the new file's size:
//         +0  u32 diff length A
//         +4  u32 extra length E (A + E at least 1)
//         +8  s32 seek: moves the old position (0 at the start) first; it
//             stays within 0 .. old size
//         +12 A bytes, each added modulo 256 to the old file's byte at the old
//             position, which advances by A (never past the old file's end)
//         then E bytes of the new file as they are
// Nothing follows the zlib stream. The new file is the records' output in order.
// In a PAT2 patch the A diff bytes of a record are stored as tokens, which
// zlib packs much tighter where most of them are zero: a byte R below 255
// stands for R zero diff bytes followed by the next byte as a diff byte of
// its own (zero or not); 255 stands for 255 zero diff bytes. The tokens of a
// record make exactly its A diff bytes.
// A PAT3 patch is a PAT2 patch whose inflated stream begins with a layout of
// the old and new program files (PatchReferences.h), before the first record:
// The old file is at most kMaxReferencedOldFile bytes.
//   +0  u32 layout length L (at most kMaxPatchLayout), then L bytes:
//         u32 pointer width W (0, 4 or 8); u32 x2 old image base, u32 x2 new
//         image base (low half first); u32 offset and u32 size of the old
//         file's relocation blocks; u32 count of old sections, each u32 file
//         offset, u32 size in the file, u32 RVA, u32 code (1: scanned for
//         branches); the same for the new sections (code unused; at most 96
//         sections each, all inside their file, in ascending order of file
//         offset and of RVA without sharing bytes or addresses, each below
//         4 GiB in RVA + size); u32 count of moves, each u32 old RVA
//         (ascending) and s32 delta; nothing else.
// Before the diff bytes of a record are added, every reference of the old file
// that lies wholly in the record's diff run is replaced by its prediction: a
// pointer (relocation of type 3 for W 4, 10 for W 8) to old RVA T becomes the
// new image base + T + delta of the last move at or before T; a rel32 operand
// (after E8, E9, 0F 80..8F in a code section, found by one scan per section
// that skips operands it took, whose target is in a code section and that
// overlaps no pointer) becomes the moved target minus the new RVA of the
// operand's end. A relocation whose pointer would share bytes with one named
// before it in the table is left out. A reference with no move at or before its target, or outside
// the sections, is left as it is.
// Bits 8 and 9 of W's word are flags of 64-bit programs (PatchReferences.h
// says where their fields follow): RIP-relative disp32 operands of x64 code
// predicted like rel32 ones, and up to 8 ranges of the old file whose u32
// words are RVAs (exception, import, export tables), each predicted as the
// moved RVA. Bit 10 predicts the new file's relocation table from the old
// file's pointers at their moved sites. A layout without these flags reads as
// before; updaters of earlier releases refuse one with them.
// A PAT4 patch (0x34544150) holds what a PAT3 patch's stream holds in three
// streams, so that each compresses on its own: 0 the layout's length and
// layout, then the control records, each as three LEB128 numbers (at most 5
// bytes each, 7 bits a byte, low bits first): diff length, extra length and
// the seek zig-zagged (0, -1, 1, -2 .. as 0, 1, 2, 3 ..); 1 the diff bytes as
// tokens; 2 the extra bytes. A layout length of 0 stands for no layout
// (nothing predicted; the old file may then be of any size). From +20 to the
// end, chunks:
//   +0  u8 stream (0..2)
//   +1  u32 length C (at least 1), then C bytes of that stream's zlib stream
// Each stream is one zlib stream that continues from chunk to chunk; a chunk's
// bytes inflate to at most 65,536 bytes. The records are read as in a PAT3
// patch, each byte from its stream; a chunk comes only once they have taken
// every byte of its stream's chunks before it (the maker sends it where they
// first need more of that stream). Each stream has at least one chunk and
// ends with its zlib stream's end.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::int32_t kArchiveMagic = 0x1111;
constexpr std::int32_t kTailSize = 8;
constexpr std::int32_t kDirectoryHeaderSize = 12;
constexpr std::int32_t kEntryFixedSize = 20;
constexpr std::int32_t kMaxNameLength = 127;
constexpr std::int32_t kDefaultSegmentSize = 1 << 20;
constexpr std::uint32_t kPatchMagic = 0x31544150;
constexpr std::uint32_t kPatchMagicSparse = 0x32544150;
constexpr std::uint32_t kPatchMagicReferences = 0x33544150;
constexpr std::uint32_t kPatchMagicStreams = 0x34544150;
constexpr std::size_t kPatchStreams = 3;
constexpr std::size_t kPatchPiece = 64 * 1024;  // PAT4: the most a chunk inflates to
constexpr std::uint32_t kMaxPatchLayout = 8 << 20;
constexpr std::uint32_t kMaxReferencedOldFile = 256 << 20;  // PAT3: the largest old file
constexpr std::size_t kPatchHeaderSize = 20;
constexpr std::size_t kPatchControlSize = 12;

// The fixed stand-alone archive that the updater opens when its own file carries none.
constexpr const char* kFallbackArchivePath = "c:\\Auslieferung\\vantUp37.vpa";
