// tpexport and tpimport: typed buffers as machine-independent bytes or
// base-64 text.
//
// Binary form: "TPEX", version 1, the type name (8 bytes, NUL-padded), the
// subtype (16 bytes, NUL-padded), a little-endian uint32 length and the
// contents: an FML32 buffer in the byte form of fml32_stream.h, a STRING
// buffer's text with its NUL, the bytes of a CARRAY or X_OCTET buffer. The
// text form is that binary form in base 64 (RFC 4648, padded) and a NUL.
#include <atmi.h>
#include <fml32.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "atmi_domain.h"
#include "fml32_stream.h"

using namespace Tx::AtmiBuiltin;
using namespace Tx::Fml32Builtin;

namespace {

constexpr char kMagic[5] = {'T', 'P', 'E', 'X', 1};
constexpr std::size_t kTypeBytes = 8;
constexpr std::size_t kSubtypeBytes = 16;
constexpr std::size_t kHeaderBytes = sizeof kMagic + kTypeBytes + kSubtypeBytes + 4;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string ToBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4 + 1);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      text.push_back(k <= n ? kBase64[(group >> (18 - 6 * k)) & 63U] : '=');
    }
  }
  return text;
}

std::optional<std::string> FromBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t group = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const char* at = c != '\0' ? std::strchr(kBase64, c) : nullptr;
      if (c == '=' && k >= 2 && i + 4 == text.size()) {
        ++padding;
        group <<= 6;
        continue;
      }
      if (at == nullptr || padding != 0) return std::nullopt;
      group = group << 6 | static_cast<std::uint32_t>(at - kBase64);
    }
    for (int k = 0; k < 3 - padding; ++k) bytes.push_back(static_cast<char>(group >> (16 - 8 * k)));
  }
  return bytes;
}

void PutName(std::string& out, const char* name, std::size_t width) {
  std::string padded(name, std::min(std::strlen(name), width));
  padded.resize(width, '\0');
  out += padded;
}

// The contents of the typed buffer ibuf as exported; nullopt with tperrno.
std::optional<std::string> Contents(char* ibuf, long ilen, const std::string& type, long size) {
  if (type == "FML32") {
    std::string bytes;
    if (!EncodeBuffer(reinterpret_cast<FBFR32*>(ibuf), bytes)) {
      Fail(Ferror32 == FMALLOC ? TPEOS : TPESYSTEM);
      return std::nullopt;
    }
    return bytes;
  }
  if (type == "STRING") {
    const void* end = std::memchr(ibuf, '\0', static_cast<std::size_t>(size));
    if (end == nullptr) {
      Fail(TPEINVAL);
      return std::nullopt;
    }
    return std::string(ibuf, static_cast<const char*>(end) - ibuf + 1);
  }
  if (type == "CARRAY" || type == "X_OCTET") {
    if (ilen < 0 || ilen > size) {
      Fail(TPEINVAL);
      return std::nullopt;
    }
    return std::string(ibuf, static_cast<std::size_t>(ilen));
  }
  Fail(TPEINVAL);
  return std::nullopt;
}

struct Imported {
  std::string type;
  std::string contents;
};

std::optional<Imported> ParseExport(std::string_view form) {
  if (form.size() < kHeaderBytes || form.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0) return std::nullopt;
  Imported imported;
  const std::string_view typeField = form.substr(sizeof kMagic, kTypeBytes);
  imported.type = std::string(typeField.substr(0, typeField.find('\0')));
  const auto* lengthAt = reinterpret_cast<const unsigned char*>(form.data() + kHeaderBytes - 4);
  const std::uint32_t length = lengthAt[0] | lengthAt[1] << 8 | lengthAt[2] << 16 | static_cast<std::uint32_t>(lengthAt[3]) << 24;
  if (form.size() - kHeaderBytes != length) return std::nullopt;
  imported.contents = std::string(form.substr(kHeaderBytes));
  return imported;
}

// A typed buffer of `type` holding at least `size` bytes: *obuf itself when
// it is of that type and large enough, else a new one. Null with tperrno.
char* TargetBuffer(char* current, const char* type, long size) {
  char currentType[kTypeBytes + 1] = {};
  const long currentSize = tptypes(current, currentType, nullptr);
  if (currentSize >= size && std::strcmp(currentType, type) == 0) return current;
  return tpalloc(const_cast<char*>(type), nullptr, std::max(size, 1L));
}

// Fills a buffer of the imported type; returns the data length or -1.
long Fill(const Imported& imported, char** obuf) {
  if (imported.type == "FML32") {
    ScratchBuffer decoded(static_cast<long>(imported.contents.size()));
    MemorySource source(imported.contents.data(), imported.contents.size());
    if (!decoded.Valid() || !DecodeBuffer(source, decoded) || source.Left() != 0) {
      return Fail(Ferror32 == FMALLOC ? TPEOS : TPEPROTO);
    }
    const long used = Fused32(decoded.Get());
    char* target = TargetBuffer(*obuf, "FML32", used);
    if (target == nullptr) return -1;
    if (!decoded.StoreInto(reinterpret_cast<FBFR32*>(target))) {
      if (target != *obuf) tpfree(target);
      return Fail(TPESYSTEM);
    }
    if (target != *obuf) tpfree(*obuf);
    *obuf = target;
    return used;
  }
  const std::string& bytes = imported.contents;
  const bool text = imported.type == "STRING";
  if (text && (bytes.empty() || bytes.find('\0') != bytes.size() - 1)) return Fail(TPEPROTO);
  if (!text && imported.type != "CARRAY" && imported.type != "X_OCTET") return Fail(TPEPROTO);
  const auto size = static_cast<long>(bytes.size());
  char* target = TargetBuffer(*obuf, imported.type.c_str(), size);
  if (target == nullptr) return -1;
  std::memcpy(target, bytes.data(), bytes.size());
  if (target != *obuf) tpfree(*obuf);
  *obuf = target;
  return size;
}

}  // namespace

extern "C" {

int tpexport(char* ibuf, long ilen, char* ostr, long* olen, long flags) {
  Enter();
  if (ibuf == nullptr || ostr == nullptr || olen == nullptr || (flags & ~TPEX_STRING) != 0) return Fail(TPEINVAL);
  char type[kTypeBytes + 1] = {};
  char subtype[kSubtypeBytes + 1] = {};
  const long size = tptypes(ibuf, type, subtype);
  if (size < 0) return Fail(TPEINVAL);
  try {
    const std::optional<std::string> contents = Contents(ibuf, ilen, type, size);
    if (!contents) return -1;
    std::string form(kMagic, sizeof kMagic);
    PutName(form, type, kTypeBytes);
    PutName(form, subtype, kSubtypeBytes);
    for (int i = 0; i < 4; ++i) form.push_back(static_cast<char>(contents->size() >> (8 * i)));
    form += *contents;
    if ((flags & TPEX_STRING) != 0) form = ToBase64(form) + '\0';
    const auto needed = static_cast<long>(form.size());
    if (*olen < needed) {
      *olen = needed;
      return Fail(TPELIMIT);
    }
    std::memcpy(ostr, form.data(), form.size());
    *olen = needed;
    return 0;
  } catch (const std::bad_alloc&) {
    return Fail(TPEOS);
  }
}

int tpimport(char* istr, long ilen, char** obuf, long* olen, long flags) {
  Enter();
  if (istr == nullptr || obuf == nullptr || *obuf == nullptr || ilen < 0 || (flags & ~TPEX_STRING) != 0) {
    return Fail(TPEINVAL);
  }
  if (tptypes(*obuf, nullptr, nullptr) < 0) return Fail(TPEINVAL);
  try {
    std::string binary;
    if ((flags & TPEX_STRING) != 0 || ilen == 0) {
      const std::size_t length = ilen == 0 ? std::strlen(istr) : strnlen(istr, static_cast<std::size_t>(ilen));
      std::optional<std::string> decoded = FromBase64(std::string_view(istr, length));
      if (!decoded) return Fail(TPEPROTO);
      binary = std::move(*decoded);
    } else {
      binary.assign(istr, static_cast<std::size_t>(ilen));
    }
    const std::optional<Imported> imported = ParseExport(binary);
    if (!imported) return Fail(TPEPROTO);
    const long length = Fill(*imported, obuf);
    if (length < 0) return -1;
    if (olen != nullptr) *olen = length;
    return 0;
  } catch (const std::bad_alloc&) {
    return Fail(TPEOS);
  }
}

}  // extern "C"
