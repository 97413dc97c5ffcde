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
// A ptr field's value is written as its pointer value in hexadecimal
// ("0x..."); reading ignores ptr fields. An fml32 field is written as its
// name and a tab alone on the line, then the embedded buffer's lines, each
// indented by one more tab, then a line of just the indentation: the
// embedded buffer's own "blank line". Nesting deepens the indentation.
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
#include <utility>
#include <vector>

#include "fml32_block.h"
#include "fml32_fieldtable.h"

using namespace Tx::Fml32Builtin;

namespace {

constexpr std::string_view kIdPrefix = "((FLDID32)";
constexpr std::string_view kIdSuffix = ")";
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kPrintChunk = 1 << 16;  // bytes of text written at a time

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

void AppendPointer(std::string& out, const unsigned char* value) {
  std::uintptr_t pointer;
  std::memcpy(&pointer, value, sizeof pointer);
  char digits[2 * sizeof pointer + 1];
  const auto result = std::to_chars(digits, digits + sizeof digits, pointer, 16);
  out += "0x";
  out.append(digits, result.ptr);
}

void AppendValue(std::string& out, int type, const unsigned char* value, std::uint32_t length) {
  switch (type) {
    case FLD_PTR: AppendPointer(out, value); break;
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

// Writes the embedded buffer at `image` (the value of an fml32 field at
// depth - 1) with `depth` tabs before each line, and the buffers embedded
// in it deeper still. Iterative: a crafted image may nest very deep.
// Returns 0, or an error number (FNOTFLD for a damaged image, FEUNIX).
int AppendEmbedded(std::string& out, const FieldTable* names, const unsigned char* image, std::uint32_t length,
                   std::size_t depth, std::FILE* iop) {
  struct Level {
    const unsigned char* image;
    std::vector<std::uint32_t> records;
    std::size_t next = 0;
  };
  std::vector<Level> levels;
  levels.push_back(Level{image, {}});
  if (!EmbeddedRecords(image, length, levels.back().records)) return FNOTFLD;
  while (!levels.empty()) {
    const std::size_t indent = depth + levels.size() - 1;
    Level& level = levels.back();
    if (level.next == level.records.size()) {
      out.append(indent, '\t');
      out += '\n';
      levels.pop_back();
      continue;
    }
    const unsigned char* record = level.image + level.records[level.next++];
    const FLDID32 id = Load32(record);
    const std::uint32_t valueLength = Load32(record + 4);
    const unsigned char* value = record + kRecordHeaderSize;
    out.append(indent, '\t');
    AppendName(out, names, id);
    out += '\t';
    if (TypeOf(id) == FLD_FML32) {
      out += '\n';
      levels.push_back(Level{value, {}});
      if (!EmbeddedRecords(value, valueLength, levels.back().records)) return FNOTFLD;
      continue;
    }
    AppendValue(out, TypeOf(id), value, valueLength);
    out += '\n';
    if (out.size() >= kPrintChunk && !Flush(out, iop)) return FEUNIX;
  }
  return 0;
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
    std::string out;
    out.reserve(kPrintChunk + 256);
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
      if (TypeOf(id) == FLD_FML32) {
        out += '\n';
        if (const int error = AppendEmbedded(out, names.get(), block.ValueAt(record), block.LengthAt(record), 1, iop)) {
          SetError(error);
          return -1;
        }
        continue;
      }
      AppendValue(out, TypeOf(id), block.ValueAt(record), block.LengthAt(record));
      out += '\n';
      if (out.size() >= kPrintChunk && !Flush(out, iop)) {
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

// One line of the text, split: flag, field, value text.
struct Line {
  char flag = '\0';
  FLDID32 id = BADFLDID;
  std::string_view text;
};

// Splits a non-blank, non-comment line. Returns 0 or an error number.
int ParseLine(std::string_view line, Line& parsed) {
  parsed.flag = '\0';
  if (line.front() == '+' || line.front() == '-' || line.front() == '=') {
    parsed.flag = line.front();
    line.remove_prefix(1);
  }
  const std::size_t tab = line.find('\t');
  if (tab == std::string_view::npos) return FSYNTAX;
  parsed.id = ResolveField(TrimSpaces(line.substr(0, tab)));
  if (parsed.id == BADFLDID) return FBADNAME;
  parsed.text = line.substr(tab + 1);
  return 0;
}

// Applies one parsed line to `fbfr`. Returns 0 or an error number.
int ApplyLine(FBFR32* fbfr, const Line& line, std::string& stored) {
  const FLDID32 id = line.id;
  switch (line.flag) {
    case '-':
      return Fdel32(fbfr, id, 0) == 1 ? 0 : Ferror32;
    case '=': {
      const FLDID32 source = ResolveField(TrimSpaces(line.text));
      if (source == BADFLDID) return FBADNAME;
      FLDLEN32 length = 0;
      const char* value = Ffind32(fbfr, source, 0, &length);
      if (value == nullptr) return Ferror32;
      stored.assign(value, length);
      return CFchg32(fbfr, id, 0, stored.data(), length, TypeOf(source)) == 1 ? 0 : Ferror32;
    }
    default:
      if (!ParseValue(TypeOf(id), line.text, stored)) return FSYNTAX;
      if (stored.size() > std::numeric_limits<FLDLEN32>::max()) return FNOSPACE;
      {
        const auto length = static_cast<FLDLEN32>(stored.size());
        const int result = line.flag == '+' ? Fchg32(fbfr, id, 0, stored.data(), length)
                                            : Fadd32(fbfr, id, stored.data(), length);
        return result == 1 ? 0 : Ferror32;
      }
  }
}

// An embedded buffer being read: its lines go into a buffer of its own that
// grows as they need, added to the enclosing buffer when it ends.
class NestedLevel {
 public:
  NestedLevel(FLDID32 field, char flag) : field_(field), flag_(flag), fbfr_(Falloc32(4, 256)) {
    if (fbfr_ == nullptr) throw std::bad_alloc();
  }
  NestedLevel(NestedLevel&& other) noexcept
      : field_(other.field_), flag_(other.flag_), fbfr_(std::exchange(other.fbfr_, nullptr)) {}
  NestedLevel(const NestedLevel&) = delete;
  NestedLevel& operator=(const NestedLevel&) = delete;
  NestedLevel& operator=(NestedLevel&&) = delete;
  ~NestedLevel() {
    if (fbfr_ != nullptr) Ffree32(fbfr_);
  }

  FLDID32 Field() const noexcept { return field_; }
  char Flag() const noexcept { return flag_; }
  FBFR32* Get() const noexcept { return fbfr_; }

  // Runs `change` on the buffer, doubling it while that fails for room (a
  // failed change leaves the buffer as it was). Returns 0 or an error number.
  template <typename Change>
  int Grow(Change&& change) {
    for (;;) {
      const int error = change(fbfr_);
      if (error != FNOSPACE) return error;
      const long size = Fsizeof32(fbfr_);
      if (size < 0 || size > std::numeric_limits<FLDLEN32>::max() / 2) return FNOSPACE;
      FBFR32* bigger = Frealloc32(fbfr_, 0, static_cast<FLDLEN32>(2 * size));
      if (bigger == nullptr) return Ferror32;
      fbfr_ = bigger;
    }
  }

 private:
  FLDID32 field_;
  char flag_;
  FBFR32* fbfr_;
};

// Adds (or with '+' sets occurrence 0 of) `field` to `target` as the
// embedded buffer `value`. Returns 0 or an error number.
int AddEmbedded(FBFR32* target, FLDID32 field, char flag, FBFR32* value) {
  auto* bytes = reinterpret_cast<char*>(value);
  const int result = flag == '+' ? Fchg32(target, field, 0, bytes, 0) : Fadd32(target, field, bytes, 0);
  return result == 1 ? 0 : Ferror32;
}

// The buffers a read is filling: the top one (fixed size) and the embedded
// buffers open at the current line, innermost last.
class ReadLevels {
 public:
  explicit ReadLevels(FBFR32* top) : top_(top) {}
  std::size_t Depth() const noexcept { return nested_.size(); }

  // Runs `change` on the innermost buffer. Returns 0 or an error number.
  template <typename Change>
  int Apply(Change&& change) {
    return nested_.empty() ? change(top_) : nested_.back().Grow(change);
  }
  void Open(FLDID32 field, char flag) { nested_.emplace_back(field, flag); }
  // Ends the innermost embedded buffer, adding it to the one around it.
  int Close() {
    NestedLevel level = std::move(nested_.back());
    nested_.pop_back();
    return Apply([&level](FBFR32* target) { return AddEmbedded(target, level.Field(), level.Flag(), level.Get()); });
  }
  int CloseTo(std::size_t depth) {
    while (nested_.size() > depth) {
      if (const int error = Close()) return error;
    }
    return 0;
  }

 private:
  FBFR32* top_;
  std::vector<NestedLevel> nested_;
};

// Applies one non-blank line at its indentation. Returns 0 or an error
// number.
int ApplyIndentedLine(ReadLevels& levels, std::string_view line, std::string& stored) {
  std::size_t tabs = 0;
  while (tabs < line.size() && line[tabs] == '\t') ++tabs;
  line.remove_prefix(tabs);
  if (line.empty()) return levels.CloseTo(tabs - 1);  // an embedded buffer's blank line
  if (line.front() == '#') return 0;
  if (tabs > levels.Depth()) return FSYNTAX;
  if (const int error = levels.CloseTo(tabs)) return error;
  Line parsed;
  if (const int error = ParseLine(line, parsed)) return error;
  const int type = TypeOf(parsed.id);
  if (type == FLD_PTR) return 0;  // a pointer means nothing in another process
  if (type == FLD_FML32 && parsed.flag != '-' && parsed.flag != '=') {
    if (!parsed.text.empty()) return FSYNTAX;
    levels.Open(parsed.id, parsed.flag);
    return 0;
  }
  return levels.Apply([&](FBFR32* fbfr) { return ApplyLine(fbfr, parsed, stored); });
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
    ReadLevels levels(scratch.Get());
    while (reader.Next(line)) {
      if (line.empty()) break;
      if (line.front() == '#') continue;
      if (const int error = ApplyIndentedLine(levels, line, stored)) {
        SetError(error);
        return -1;
      }
    }
    if (reader.Failed()) {
      SetError(FEUNIX);
      return -1;
    }
    if (const int error = levels.CloseTo(0)) {
      SetError(error);
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
