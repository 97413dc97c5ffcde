// Builtin-only view of the FML32 engine for the rest of the builtin platform
// (the in-process ATMI). Nothing outside platform/tuxedo/builtin includes it.
//
// An FML32 buffer is one contiguous, relocatable block: a fixed header
// followed by records (offsets only, no pointers), so memcpy of Fsizeof32
// bytes is a complete copy. The engine keeps a per-thread index of the blocks
// it has seen, keyed by address and checked against a modification stamp in
// the header. Code that allocates, frees or moves blocks behind the engine's
// back (tpalloc, tpfree, tprealloc) tells it so through these functions.
//
// Typical use by an allocator of typed buffers:
//   tpalloc:   p = malloc(n); NoteBlockCapacity(p, n); Finit32(p, n);
//   tpfree:    ForgetBlock(p); free(p);
//   tprealloc: need = CompactForResize(p)   (only when shrinking);
//              ForgetBlock(p); q = realloc(p, n); AdoptResizedBlock(q, n);
#pragma once

#include <fml32.h>

#include <cstddef>

namespace Tx::Fml32Builtin {

// Size of the header of every block, and so the smallest block Finit32
// accepts (an empty buffer). Equal to Fneeded32(0, 0).
inline constexpr FLDLEN32 kEmptyBlockSize = 32;

// Every block must start at a multiple of this (malloc'ed memory does);
// values inside are aligned to it as well.
inline constexpr FLDLEN32 kBlockAlignment = 8;

// Records that the memory at `block` really holds `bytes` bytes. From then
// on a block there whose header claims a larger size (a corrupt or foreign
// image copied over it) is refused with FNOTFLD instead of being written
// past its end. Optional: unregistered memory is trusted to be as large as
// its header says. Falloc32/Frealloc32 register their own blocks.
// Never fails, never throws (a failed registration only loses the check).
void NoteBlockCapacity(const void* block, std::size_t bytes) noexcept;

// Drops what the engine knows about the block at `block` (its registered
// capacity and the calling thread's cached index); null is ignored. Call it
// right before freeing or reallocating the memory. Other threads validate
// their caches against the block's modification stamp, so they need no
// notice. Never fails, never throws.
void ForgetBlock(const void* block) noexcept;

// The smallest size the block at `fbfr` can be resized to without losing
// content (header plus live records, i.e. Fused32), or -1 with Ferror32 set
// (FNOTFLD, FALIGNERR) when it is not a valid block. Moves the records
// together first (the space of deleted values goes to the end), so that
// realloc to that size keeps every record.
long CompactForResize(FBFR32* fbfr) noexcept;

// After the memory of a block has been moved or resized to `newSize` bytes
// (realloc), records the new size in its header and registers the capacity.
// Returns 0, or -1 with Ferror32 set: FALIGNERR / FNOTFLD when `fbfr` is no
// valid block, FNOSPACE when `newSize` is smaller than the physical extent
// of its records (call CompactForResize before shrinking); the block is then
// unchanged.
int AdoptResizedBlock(FBFR32* fbfr, FLDLEN32 newSize) noexcept;

}  // namespace Tx::Fml32Builtin
