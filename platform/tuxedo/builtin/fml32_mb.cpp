// Packing of FLD_MBSTRING values: an encoding name and the bytes of a text
// in that encoding, kept together in one field value. The engine stores,
// compares, prints and reads mbstring values as bytes, like carray, so a
// packed value travels unchanged; only these two functions look inside.
//
// Packed form: the encoding name, a zero byte, then the text's bytes (an
// empty name when packed with FBUFENC).
#include <fml32.h>

#include <cstring>

namespace {

constexpr std::size_t kMaxEncodingName = 64;

bool IsEncodingName(const char* name, std::size_t length) {
  if (length == 0 || length > kMaxEncodingName) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (name[i] <= ' ' || name[i] > '~') return false;
  }
  return true;
}

int Fail(int error) {
  Ferror32 = error;
  return -1;
}

}  // namespace

extern "C" {

int Fmbpack32(char* enc, void* ind, FLDLEN32 indlen, void* packed, FLDLEN32* size, long flags) {
  if ((flags & ~FBUFENC) != 0 || packed == nullptr || size == nullptr || (ind == nullptr && indlen != 0)) {
    return Fail(FEINVAL);
  }
  const std::size_t nameLength = (flags & FBUFENC) != 0 ? 0 : (enc != nullptr ? strnlen(enc, kMaxEncodingName + 1) : 0);
  if ((flags & FBUFENC) == 0 && !IsEncodingName(enc, nameLength)) return Fail(FEINVAL);
  const std::size_t needed = nameLength + 1 + indlen;
  if (needed > 0xFFFFFFFFU) return Fail(FEINVAL);
  if (*size < needed) {
    *size = static_cast<FLDLEN32>(needed);
    return Fail(FNOSPACE);
  }
  auto* out = static_cast<char*>(packed);
  if (nameLength != 0) std::memcpy(out, enc, nameLength);
  out[nameLength] = '\0';
  if (indlen != 0) std::memmove(out + nameLength + 1, ind, indlen);
  *size = static_cast<FLDLEN32>(needed);
  return 0;
}

int Fmbunpack32(void* packed, FLDLEN32 srclen, char* enc, void* outd, FLDLEN32* outdlen, long flags) {
  if (flags != 0 || packed == nullptr || outdlen == nullptr) return Fail(FEINVAL);
  const auto* in = static_cast<const char*>(packed);
  const void* zero = std::memchr(in, '\0', srclen);
  if (zero == nullptr) return Fail(FEINVAL);  // not a packed value
  const std::size_t nameLength = static_cast<std::size_t>(static_cast<const char*>(zero) - in);
  if (nameLength != 0 && !IsEncodingName(in, nameLength)) return Fail(FEINVAL);
  const std::size_t dataLength = srclen - nameLength - 1;
  if (*outdlen < dataLength) {
    *outdlen = static_cast<FLDLEN32>(dataLength);
    return Fail(FNOSPACE);
  }
  if (dataLength != 0 && outd == nullptr) return Fail(FEINVAL);
  if (enc != nullptr) std::memcpy(enc, in, nameLength + 1);
  if (dataLength != 0) std::memmove(outd, in + nameLength + 1, dataLength);
  *outdlen = static_cast<FLDLEN32>(dataLength);
  return 0;
}

}  // extern "C"
