// The machine-independent byte form of an FML32 buffer, written by Fwrite32
// and tpexport and read by Fread32 and tpimport. Builtin-only.
//
//   "FM32", version 1, three zero bytes
//   uint32 number of occurrences
//   per occurrence, in Fnext32 order:
//     uint32 field id, uint32 length, the value's bytes
//
// Integers are little-endian. Values: short as 16 bits, long as 64 bits,
// float and double as IEEE bits, char as one byte, a string with its zero
// byte, carray and mbstring as they are, ptr as the 64-bit address (read
// back as nothing: an address means nothing elsewhere), fml32 as the whole
// byte form of the embedded buffer.
#pragma once

#include <fml32.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "fml32_scratch.h"

namespace Tx::Fml32Builtin {

// Appends the byte form of fbfr to out. False with Ferror32 set.
bool EncodeBuffer(FBFR32* fbfr, std::string& out) noexcept;

// Where DecodeBuffer reads from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads exactly `size` bytes. False at the end of the data (Ferror32
  // FNOTFLD) or on a read error (FEUNIX).
  virtual bool Read(void* into, std::size_t size) noexcept = 0;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(FILE* file) noexcept : file_(file) {}
  bool Read(void* into, std::size_t size) noexcept override;

 private:
  FILE* file_;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* data, std::size_t size) noexcept
      : next_(static_cast<const unsigned char*>(data)), left_(size) {}
  bool Read(void* into, std::size_t size) noexcept override;
  std::size_t Left() const noexcept { return left_; }

 private:
  const unsigned char* next_;
  std::size_t left_;
};

// Reads one buffer in byte form into `into` (which it empties first).
// False with Ferror32: FNOTFLD for data that is no such buffer, FEUNIX,
// FMALLOC.
bool DecodeBuffer(ByteSource& source, ScratchBuffer& into) noexcept;

}  // namespace Tx::Fml32Builtin
