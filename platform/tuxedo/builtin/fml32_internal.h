// Builtin-only view of the FML32 engine for the rest of the builtin platform
// (the in-process ATMI). Nothing outside platform/tuxedo/builtin includes it.
//
// An FML32 buffer is one contiguous, relocatable block: a fixed header
// followed by records. The engine keeps a per-thread index of each block it
// has seen, keyed by the block's address; code that frees or moves a block
// behind the engine's back (tpfree, tprealloc) tells it so through the
// functions below.
#pragma once

#include <fml32.h>

namespace Tx::Fml32Builtin {

// Size of the header of every block, and so the smallest block Finit32
// accepts (an empty buffer). Equal to Fneeded32(0, 0).
inline constexpr FLDLEN32 kEmptyBlockSize = 32;

// Every block must start at a multiple of this (malloc'ed memory does);
// values inside are aligned to it as well.
inline constexpr FLDLEN32 kBlockAlignment = 8;

// Drops whatever the calling thread's engine caches about the block at
// `block` (null is ignored). Call it right before freeing or reallocating
// the memory. Other threads validate their caches against the block's
// modification stamp, so they need no notice. Never fails, never throws.
void ForgetBlock(const void* block) noexcept;

// After the memory of an FML32 block has been moved or resized (realloc),
// records its new size `newSize` in the header at its new address. Returns 0,
// or -1 with Ferror32 set: FNOTFLD / FALIGNERR when `fbfr` is no valid
// block, FNOSPACE when `newSize` is smaller than the space its live
// contents need (Fused32 after compaction); the block is then unchanged.
// Shrinking compacts deleted space first, so call BytesInUse() before
// shrinking memory to learn how small it may get.
int AdoptResizedBlock(FBFR32* fbfr, FLDLEN32 newSize) noexcept;

// The smallest size the block at `fbfr` can be resized to without losing
// content (header plus live records), or -1 with Ferror32 set when it is
// not a valid block. Compacts the block (removes the space of deleted
// values) so that realloc to that size keeps every record.
long CompactForResize(FBFR32* fbfr) noexcept;

}  // namespace Tx::Fml32Builtin
