// The text form of a buffer: Fprint32 and Ffprint32 write it, Fextread32
// reads it back.
//
// One line per occurrence, in Fnext32 order: the field's name (or
// "((FLDID32)<id>)" when the tables do not name it), a tab, the value, a
// newline; a blank line ends the buffer. Numbers are written in decimal,
// float and double in the shortest form that reads back to the same value.
// In char, string, carray and mbstring values every byte outside ' '..'~'
// is written as a backslash and two hex digits, and the backslash itself is
// doubled, so that any bytes survive the round trip.
//
// Fextread32 reads lines "[flag]name<tab>value" (LF or CR LF ended) up to a
// blank line or the end of the stream. Without a flag the value is added as a new occurrence;
// '+' changes occurrence 0 to it; '-' deletes occurrence 0 (the value is
// ignored); '=' assigns occurrence 0 of the field named as the value to
// occurrence 0 of the first field; a line starting with '#' is a comment.
// Bad input leaves the buffer as it was.
#include <fml32.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "fml32_block.h"
#include "fml32_fieldtable.h"

using namespace Tx::Fml32Builtin;

namespace {

constexpr std::string_view kIdPrefix = "((FLDID32)";
constexpr std::string_view kIdSuffix = ")";
constexpr char kHexDigits[] = "0123456789abcdef";

// --- Writing -------------------------------------------------------------------

void AppendEscaped(std::string& out, const unsigned char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= ' ' && c <= '~') {
      out += static_cast<char>(c);
    } else {
      out += '\\';
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0x0F];
    }
  }
}

template <typename T>
void AppendNumber(std::string& out, const unsigned char* value) {
  T number;
  std::memcpy(&number, value, sizeof number);
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, number);
  out.append(digits, result.ptr);
}

void AppendValue(std::string& out, int type, const unsigned char* value, std::uint32_t length) {
  switch (type) {
    case FLD_SHORT: AppendNumber<short>(out, value); break;
    case FLD_LONG: AppendNumber<long>(out, value); break;
    case FLD_FLOAT: AppendNumber<float>(out, value); break;
    case FLD_DOUBLE: AppendNumber<double>(out, value); break;
    case FLD_STRING: AppendEscaped(out, value, strnlen(reinterpret_cast<const char*>(value), length)); break;
    default: AppendEscaped(out, value, length); break;  // char, carray, mbstring
  }
}

void AppendName(std::string& out, const FieldTable* table, FLDID32 id) {
  if (table != nullptr) {
    const auto found = table->namesById.find(id);
    if (found != table->namesById.end()) {
      out += found->second;
      return;
    }
  }
  out += kIdPrefix;
  out += std::to_string(id);
  out += kIdSuffix;
}

bool Flush(std::string& out, std::FILE* iop) {
  const bool written = out.empty() || std::fwrite(out.data(), 1, out.size(), iop) == out.size();
  out.clear();
  return written;
}

int Print(FBFR32* fbfr, std::FILE* iop) noexcept {
  Block block;
  if (!block.Open(fbfr)) return -1;
  if (iop == nullptr) {
    SetError(FEINVAL);
    return -1;
  }
  try {
    const std::shared_ptr<const FieldTable> names = NameTableForPrinting();
    constexpr std::size_t kChunk = 1 << 16;
    std::string out;
    out.reserve(kChunk + 256);
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 oc = 0;
    while (block.Next(id, oc)) {
      const std::uint32_t record = block.Find(id, oc);
      if (record == 0) {
        block.SetMissingError();
        return -1;
      }
      AppendName(out, names.get(), id);
      out += '\t';
      AppendValue(out, TypeOf(id), block.ValueAt(record), block.LengthAt(record));
      out += '\n';
      if (out.size() >= kChunk && !Flush(out, iop)) {
        SetError(FEUNIX);
        return -1;
      }
    }
    out += '\n';
    if (!Flush(out, iop) || std::fflush(iop) != 0) {
      SetError(FEUNIX);
      return -1;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return -1;
  }
}

// --- Reading -------------------------------------------------------------------

struct FreeDeleter {
  void operator()(char* p) const noexcept { std::free(p); }
};

// Lines of a stream, of any length and with any bytes.
class LineReader {
 public:
  explicit LineReader(std::FILE* iop) : iop_(iop) {}
  // False at the end of the stream or on a read error (see Failed()).
  bool Next(std::string_view& line) {
    char* raw = buffer_.release();
    const ssize_t got = getline(&raw, &capacity_, iop_);
    buffer_.reset(raw);
    if (got < 0) return false;
    line = std::string_view(buffer_.get(), static_cast<std::size_t>(got));
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    // Text edited on Windows ends lines with CR LF; a CR of a value is
    // always written escaped, so a raw one here is never data.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
  }
  bool Failed() const { return std::ferror(iop_) != 0; }

 private:
  std::FILE* iop_;
  std::unique_ptr<char, FreeDeleter> buffer_;
  std::size_t capacity_ = 0;
};

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(std::string_view text, std::string& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '\\') {
      bytes += '\\';
      ++i;
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high << 4 | low);
    i += 2;
  }
  return true;
}

template <typename T>
bool ParseWhole(std::string_view text, T& value) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// The value of a line in the stored form of `type`; false for bad text.
bool ParseValue(int type, std::string_view text, std::string& stored) {
  switch (type) {
    case FLD_SHORT: {
      long number = 0;
      if (!ParseWhole(text, number) || number < std::numeric_limits<short>::min() ||
          number > std::numeric_limits<short>::max()) {
        return false;
      }
      const auto value = static_cast<short>(number);
      stored.assign(reinterpret_cast<const char*>(&value), sizeof value);
      return true;
    }
    case FLD_LONG: {
      long value = 0;
      if (!ParseWhole(text, value)) return false;
      stored.assign(reinterpret_cast<const char*>(&value), sizeof value);
      return true;
    }
    case FLD_FLOAT: {
      float value = 0;
      if (!ParseWhole(text, value)) return false;
      stored.assign(reinterpret_cast<const char*>(&value), sizeof value);
      return true;
    }
    case FLD_DOUBLE: {
      double value = 0;
      if (!ParseWhole(text, value)) return false;
      stored.assign(reinterpret_cast<const char*>(&value), sizeof value);
      return true;
    }
    case FLD_CHAR:
      return Unescape(text, stored) && stored.size() == 1;
    case FLD_STRING:
      if (!Unescape(text, stored) || stored.find('\0') != std::string::npos) return false;
      stored += '\0';
      return true;
    default:  // carray, mbstring
      return Unescape(text, stored);
  }
}

bool AllDigits(std::string_view text) noexcept {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Names never hold spaces; "+ NAME" reads as "+NAME".
std::string_view TrimSpaces(std::string_view text) noexcept {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A field named in the text: "((FLDID32)<id>)", a plain id, or a name from
// the field tables. BADFLDID when unknown or not a storable field.
FLDID32 ResolveField(std::string_view name) {
  FLDID32 id = BADFLDID;
  std::string_view digits;
  if (name.size() > kIdPrefix.size() + kIdSuffix.size() && name.substr(0, kIdPrefix.size()) == kIdPrefix &&
      name.substr(name.size() - kIdSuffix.size()) == kIdSuffix) {
    digits = name.substr(kIdPrefix.size(), name.size() - kIdPrefix.size() - kIdSuffix.size());
  }
  if (!digits.empty() || AllDigits(name)) {
    if (digits.empty()) digits = name;
    if (!AllDigits(digits) || !ParseWhole(digits, id)) return BADFLDID;
  } else {
    const std::string text(name);
    const int saved = Ferror32;
    id = Fldid32(const_cast<char*>(text.c_str()));
    Ferror32 = saved;
  }
  return NumberOf(id) != 0 && IsStorableType(TypeOf(id)) ? id : BADFLDID;
}

// Applies one non-blank, non-comment line to `fbfr`. Returns 0 or an error number.
int ApplyLine(FBFR32* fbfr, std::string_view line, std::string& stored) {
  char flag = '\0';
  if (line.front() == '+' || line.front() == '-' || line.front() == '=') {
    flag = line.front();
    line.remove_prefix(1);
  }
  const std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return FSYNTAX;
  const FLDID32 id = ResolveField(TrimSpaces(line.substr(0, tab)));
  if (id == BADFLDID) return FBADNAME;
  const std::string_view text = line.substr(tab + 1);
  const int type = TypeOf(id);

  switch (flag) {
    case '-':
      return Fdel32(fbfr, id, 0) == 1 ? 0 : Ferror32;
    case '=': {
      const FLDID32 source = ResolveField(TrimSpaces(text));
      if (source == BADFLDID) return FBADNAME;
      FLDLEN32 length = 0;
      const char* value = Ffind32(fbfr, source, 0, &length);
      if (value == nullptr) return Ferror32;
      stored.assign(value, length);
      return CFchg32(fbfr, id, 0, stored.data(), length, TypeOf(source)) == 1 ? 0 : Ferror32;
    }
    default:
      if (!ParseValue(type, text, stored)) return FSYNTAX;
      if (stored.size() > std::numeric_limits<FLDLEN32>::max()) return FNOSPACE;
      {
        const auto length = static_cast<FLDLEN32>(stored.size());
        const int result = flag == '+' ? Fchg32(fbfr, id, 0, stored.data(), length)
                                       : Fadd32(fbfr, id, stored.data(), length);
        return result == 1 ? 0 : Ferror32;
      }
  }
}

// A private copy of a block, so that a failing read leaves the caller's
// buffer untouched.
class ScratchBlock {
 public:
  explicit ScratchBlock(const Block& original)
      : words_(new std::uint64_t[(original.Header().size + 7) / 8]) {
    std::memcpy(words_.get(), original.Base(), original.Header().end);
    Header().stamp = NewStamp();
  }
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  ~ScratchBlock() { ForgetBlock(words_.get()); }

  FBFR32* Get() const noexcept { return reinterpret_cast<FBFR32*>(words_.get()); }
  BlockHeader& Header() const noexcept { return *reinterpret_cast<BlockHeader*>(words_.get()); }

  // Copies the result over `target`, a block of the same size.
  void CopyTo(unsigned char* target) const noexcept {
    DropCachedIndex(target);
    const std::uint32_t oldEnd = reinterpret_cast<const BlockHeader*>(target)->end;
    std::memcpy(target, words_.get(), Header().end);
    if (oldEnd > Header().end) std::memset(target + Header().end, 0, oldEnd - Header().end);
    reinterpret_cast<BlockHeader*>(target)->stamp = NewStamp();
  }

 private:
  std::unique_ptr<std::uint64_t[]> words_;
};

int ExtRead(FBFR32* fbfr, std::FILE* iop) noexcept {
  Block target;
  if (!target.Open(fbfr)) return -1;
  if (iop == nullptr) {
    SetError(FEINVAL);
    return -1;
  }
  try {
    const ScratchBlock scratch(target);
    LineReader reader(iop);
    std::string stored;
    std::string_view line;
    while (reader.Next(line)) {
      if (line.empty()) break;
      if (line.front() == '#') continue;
      if (const int error = ApplyLine(scratch.Get(), line, stored)) {
        SetError(error);
        return -1;
      }
    }
    if (reader.Failed()) {
      SetError(FEUNIX);
      return -1;
    }
    scratch.CopyTo(target.Base());
    return 1;
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return -1;
  }
}

}  // namespace

extern "C" {

int Fprint32(FBFR32* fbfr) { return Print(fbfr, stdout); }

int Ffprint32(FBFR32* fbfr, FILE* iop) { return Print(fbfr, iop); }

int Fextread32(FBFR32* fbfr, FILE* iop) { return ExtRead(fbfr, iop); }

}  // extern "C"
