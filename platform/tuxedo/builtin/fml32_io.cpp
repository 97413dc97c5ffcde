// Fwrite32 and Fread32, and the byte form of buffers they share with
// tpexport and tpimport.
#include <fml32.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fml32_stream.h"

namespace Tx::Fml32Builtin {

namespace {

constexpr unsigned char kMagic[8] = {'F', 'M', '3', '2', 1, 0, 0, 0};
// Embedded buffers may nest this deep in data that is read; deeper data is
// refused rather than followed down the stack.
constexpr int kMaxNesting = 32;
// Values are read in pieces of this size, so a length that the data cannot
// back up costs no more memory than the data itself.
constexpr std::size_t kReadPiece = 64 * 1024;
constexpr std::uint32_t kMaxValueLength = 0x7FFFFFF0U;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
std::uint64_t Get(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return value;
}
template <typename T>
T Load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Encoded size of the fixed-size types, 0 for the others.
int FixedSize(int type) {
  switch (type) {
    case FLD_SHORT: return 2;
    case FLD_LONG: return 8;
    case FLD_CHAR: return 1;
    case FLD_FLOAT: return 4;
    case FLD_DOUBLE: return 8;
    case FLD_PTR: return 8;
    default: return 0;
  }
}

bool EncodeValue(FLDID32 id, const char* value, FLDLEN32 len, std::string& out) {
  switch (Fldtype32(id)) {
    case FLD_SHORT: Put(out, static_cast<std::uint16_t>(Load<short>(value)), 2); return true;
    case FLD_LONG: Put(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(Load<long>(value))), 8); return true;
    case FLD_FLOAT: Put(out, Load<std::uint32_t>(value), 4); return true;
    case FLD_DOUBLE: Put(out, Load<std::uint64_t>(value), 8); return true;
    case FLD_PTR: Put(out, reinterpret_cast<std::uintptr_t>(Load<char*>(value)), 8); return true;
    case FLD_FML32: return EncodeBuffer(reinterpret_cast<FBFR32*>(const_cast<char*>(value)), out);
    default: out.append(value, len); return true;
  }
}

bool Refuse() {
  Ferror32 = FNOTFLD;
  return false;
}

bool DecodeAt(ByteSource& source, ScratchBuffer& into, int depth);

// Reads one value of `length` bytes and adds it to `into`.
bool DecodeValue(ByteSource& source, FLDID32 id, std::uint32_t length, ScratchBuffer& into, int depth) {
  const int type = Fldtype32(id);
  if (Fldno32(id) == 0 || length > kMaxValueLength) return Refuse();
  if (type == FLD_FML32) {
    ScratchBuffer nested(static_cast<long>(std::min<std::uint32_t>(length, kReadPiece)));
    if (!nested.Valid() || !DecodeAt(source, nested, depth + 1)) return false;
    return into.Add(id, reinterpret_cast<const char*>(nested.Get()), 0) || Refuse();
  }
  const int fixed = FixedSize(type);
  if (fixed != 0 && length != static_cast<std::uint32_t>(fixed)) return Refuse();
  std::string bytes;
  while (bytes.size() < length) {
    const std::size_t piece = std::min<std::size_t>(length - bytes.size(), kReadPiece);
    const std::size_t at = bytes.size();
    bytes.resize(at + piece);
    if (!source.Read(bytes.data() + at, piece)) return false;
  }
  const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
  switch (type) {
    case FLD_PTR: return true;  // an address from elsewhere: skipped
    case FLD_SHORT: {
      const auto value = static_cast<short>(static_cast<std::uint16_t>(Get(raw, 2)));
      return into.Add(id, reinterpret_cast<const char*>(&value), 0) || Refuse();
    }
    case FLD_LONG: {
      const auto wide = static_cast<std::int64_t>(Get(raw, 8));
      const auto value = static_cast<long>(wide);
      if (static_cast<std::int64_t>(value) != wide) return Refuse();
      return into.Add(id, reinterpret_cast<const char*>(&value), 0) || Refuse();
    }
    case FLD_FLOAT: {
      const auto bits = static_cast<std::uint32_t>(Get(raw, 4));
      float value;
      std::memcpy(&value, &bits, sizeof value);
      return into.Add(id, reinterpret_cast<const char*>(&value), 0) || Refuse();
    }
    case FLD_DOUBLE: {
      const std::uint64_t bits = Get(raw, 8);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return into.Add(id, reinterpret_cast<const char*>(&value), 0) || Refuse();
    }
    case FLD_STRING:
      // Exactly one zero byte, the last one.
      if (length == 0 || bytes.back() != '\0' || std::strlen(bytes.c_str()) + 1 != length) return Refuse();
      return into.Add(id, bytes.c_str(), 0) || Refuse();
    default: {
      const bool added = into.Add(id, bytes.data(), length);
      return added || (Ferror32 == FMALLOC ? false : Refuse());
    }
  }
}

bool DecodeAt(ByteSource& source, ScratchBuffer& into, int depth) {
  if (depth > kMaxNesting) return Refuse();
  unsigned char header[12];
  if (!source.Read(header, sizeof header)) return false;
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return Refuse();
  const auto count = static_cast<std::uint32_t>(Get(header + 8, 4));
  if (Finit32(into.Get(), static_cast<FLDLEN32>(Fsizeof32(into.Get()))) != 1) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char record[8];
    if (!source.Read(record, sizeof record)) return false;
    const auto id = static_cast<FLDID32>(Get(record, 4));
    const auto length = static_cast<std::uint32_t>(Get(record + 4, 4));
    if (!DecodeValue(source, id, length, into, depth)) {
      // A value the engine refuses (bad id or type) means the data is no buffer.
      if (Ferror32 != FEUNIX && Ferror32 != FMALLOC) Ferror32 = FNOTFLD;
      return false;
    }
  }
  return true;
}

}  // namespace

bool EncodeBuffer(FBFR32* fbfr, std::string& out) noexcept {
  const FLDOCC32 count = Fnum32(fbfr);
  if (count < 0) return false;
  try {
    out.append(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
    Put(out, static_cast<std::uint32_t>(count), 4);
    return ForEachOccurrence(fbfr, [&](FLDID32 id, FLDOCC32 oc) {
      FLDLEN32 len = 0;
      const char* value = Ffind32(fbfr, id, oc, &len);
      if (value == nullptr) return false;
      Put(out, id, 4);
      const std::size_t lengthAt = out.size();
      Put(out, 0, 4);
      if (!EncodeValue(id, value, len, out)) return false;
      const std::size_t written = out.size() - lengthAt - 4;
      for (int i = 0; i < 4; ++i) out[lengthAt + i] = static_cast<char>(written >> (8 * i));
      return true;
    });
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return false;
  }
}

bool FileSource::Read(void* into, std::size_t size) noexcept {
  if (std::fread(into, 1, size, file_) == size) return true;
  Ferror32 = std::ferror(file_) ? FEUNIX : FNOTFLD;
  return false;
}

bool MemorySource::Read(void* into, std::size_t size) noexcept {
  if (size > left_) {
    Ferror32 = FNOTFLD;
    return false;
  }
  std::memcpy(into, next_, size);
  next_ += size;
  left_ -= size;
  return true;
}

bool DecodeBuffer(ByteSource& source, ScratchBuffer& into) noexcept {
  try {
    return DecodeAt(source, into, 0);
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return false;
  }
}

}  // namespace Tx::Fml32Builtin

using namespace Tx::Fml32Builtin;

extern "C" {

int Fwrite32(FBFR32* fbfr, FILE* iop) {
  if (!IsBuffer(fbfr)) return -1;
  if (iop == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  std::string bytes;
  if (!EncodeBuffer(fbfr, bytes)) return -1;
  if (std::fwrite(bytes.data(), 1, bytes.size(), iop) != bytes.size()) {
    Ferror32 = FEUNIX;
    return -1;
  }
  return 1;
}

int Fread32(FBFR32* fbfr, FILE* iop) {
  if (!IsBuffer(fbfr)) return -1;
  if (iop == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  ScratchBuffer read(Fused32(fbfr));
  if (!read.Valid()) return -1;
  FileSource source(iop);
  if (!DecodeBuffer(source, read)) return -1;
  return read.StoreInto(fbfr) ? 1 : -1;
}

}  // extern "C"
