// Parsing of view description files and the structure layout of each view.
#include "fml32_viewfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

namespace Tx::Fml32Builtin {
namespace {

// Limits that keep every offset far inside the range of the length and
// count members and of the engine's arithmetic.
constexpr long kMaxCount = 65535;
constexpr long kMaxSize = 65535;
constexpr std::size_t kMaxStructSize = std::size_t{1} << 30;
constexpr std::size_t kMaxViewName = 33;

struct Failure {
  std::string message;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

bool IsIdentifier(std::string_view word) {
  if (word.empty() || (word[0] >= '0' && word[0] <= '9')) return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The next blank-separated word of `rest`, which loses it.
std::string_view NextWord(std::string_view& rest) {
  rest = Trim(rest);
  std::size_t end = 0;
  while (end < rest.size() && !IsBlank(rest[end])) ++end;
  const std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  return word;
}

int TypeFromViewName(std::string_view name) {
  for (const int type : {FLD_SHORT, FLD_LONG, FLD_CHAR, FLD_FLOAT, FLD_DOUBLE, FLD_STRING, FLD_CARRAY, FLD_INT,
                         FLD_MBSTRING}) {
    if (name == ViewTypeName(type)) return type;
  }
  return -1;
}

bool IsTextType(int type) { return type == FLD_STRING || type == FLD_CARRAY || type == FLD_MBSTRING; }

long ParseCount(std::string_view word, long limit, const char* what) {
  if (word.empty() || word.size() > 9 ||
      !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw Failure{std::string("bad ") + what + " '" + std::string(word) + "'"};
  }
  const long value = std::strtol(std::string(word).c_str(), nullptr, 10);
  if (value < 1 || value > limit) {
    throw Failure{std::string(what) + " " + std::string(word) + " out of range 1.." + std::to_string(limit)};
  }
  return value;
}

// A quoted text with C escapes, quotes removed.
std::string Unquote(std::string_view text) {
  const char quote = text.front();
  if (text.size() < 2 || text.back() != quote) throw Failure{"unterminated null value " + std::string(text)};
  const std::string_view body = text.substr(1, text.size() - 2);
  std::string value;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '"' || c == '\'') throw Failure{"unescaped quote in null value " + std::string(text)};
    if (c != '\\') {
      value += c;
      continue;
    }
    if (++i == body.size()) throw Failure{"unterminated escape in null value " + std::string(text)};
    const char e = body[i];
    if (e >= '0' && e <= '7') {
      int code = 0;
      std::size_t digits = 0;
      while (digits < 3 && i < body.size() && body[i] >= '0' && body[i] <= '7') {
        code = code * 8 + (body[i] - '0');
        ++i;
        ++digits;
      }
      --i;
      if (code > 255) throw Failure{"escape out of range in null value " + std::string(text)};
      value += static_cast<char>(code);
      continue;
    }
    switch (e) {
      case 'n': value += '\n'; break;
      case 't': value += '\t'; break;
      case 'v': value += '\v'; break;
      case 'r': value += '\r'; break;
      case 'f': value += '\f'; break;
      case '\\': value += '\\'; break;
      case '\'': value += '\''; break;
      case '"': value += '"'; break;
      default: throw Failure{std::string("unknown escape \\") + e + " in null value " + std::string(text)};
    }
  }
  return value;
}

template <typename T>
std::string BytesOf(T value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// A numeric null value in the member's native form.
std::string NumericNull(int type, std::string_view text) {
  const std::string word(text);
  char* end = nullptr;
  errno = 0;
  if (type == FLD_FLOAT || type == FLD_DOUBLE) {
    const double value = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || *end != '\0' || errno == ERANGE) throw Failure{"bad null value " + word};
    return type == FLD_FLOAT ? BytesOf(static_cast<float>(value)) : BytesOf(value);
  }
  const long value = std::strtol(word.c_str(), &end, 0);
  if (end == word.c_str() || *end != '\0' || errno == ERANGE) throw Failure{"bad null value " + word};
  switch (type) {
    case FLD_SHORT:
      if (value < -32768 || value > 32767) throw Failure{"null value " + word + " out of range for short"};
      return BytesOf(static_cast<short>(value));
    case FLD_INT:
      if (value < -2147483648L || value > 2147483647L) throw Failure{"null value " + word + " out of range for int"};
      return BytesOf(static_cast<int>(value));
    default:
      return BytesOf(value);
  }
}

void SetNull(ViewMember& member, std::string_view text) {
  member.nullText = std::string(text);
  if (text == "NONE") {
    member.hasNull = false;
    member.null.assign(member.size, '\0');
    return;
  }
  const bool quoted = !text.empty() && (text.front() == '"' || text.front() == '\'');
  if (text == "-") {
    member.null = IsTextType(member.type) ? std::string() : std::string(member.size, '\0');
  } else if (IsTextType(member.type) || member.type == FLD_CHAR) {
    std::string value = quoted ? Unquote(text) : std::string(text);
    if (member.type == FLD_CHAR) {
      if (value.size() > 1) throw Failure{"null value " + std::string(text) + " longer than one character"};
      value.resize(1, '\0');
    } else {
      // A C string ends at its first zero byte, and so does its null value.
      if (member.type == FLD_STRING) value.resize(std::strlen(value.c_str()));
      const std::size_t room = member.size - (member.type == FLD_STRING ? 1 : 0);
      if (value.size() > room) throw Failure{"null value " + std::string(text) + " longer than the member"};
    }
    member.null = value;
  } else {
    member.null = NumericNull(member.type, quoted ? std::string_view(Unquote(text)) : text);
  }
}

void SetFlags(ViewMember& member, std::string_view flags) {
  if (flags == "-") return;
  bool toStruct = false;
  bool toBuffer = false;
  bool none = false;
  for (const char flag : flags) {
    switch (flag) {
      case 'C': member.countMember = true; break;
      case 'L': member.lengthMember = true; break;
      case 'P': member.propagateNull = true; break;
      case 'S': toStruct = true; break;
      case 'F': toBuffer = true; break;
      case 'N': none = true; break;
      case ',': break;
      default: throw Failure{std::string("unknown flag '") + flag + "'"};
    }
  }
  if (none && (toStruct || toBuffer)) throw Failure{"flag N with F or S"};
  if (none) member.mapping = 0;
  else if (toStruct != toBuffer) member.mapping = toStruct ? kMapToStruct : kMapToBuffer;
  if (member.lengthMember && !IsTextType(member.type)) throw Failure{"flag L on a member that is no text"};
  if (member.propagateNull && !IsTextType(member.type)) throw Failure{"flag P on a member that is no text"};
}

ViewMember ParseMember(std::string_view line, const FieldLookup& lookup) {
  std::string_view rest = line;
  const std::string_view typeWord = NextWord(rest);
  const std::string_view cname = NextWord(rest);
  const std::string_view fbname = NextWord(rest);
  const std::string_view count = NextWord(rest);
  const std::string_view flags = NextWord(rest);
  const std::string_view size = NextWord(rest);
  const std::string_view null = Trim(rest);
  if (null.empty()) throw Failure{"a member needs type, cname, fbname, count, flag, size and null"};

  ViewMember member;
  if (typeWord == "-") {
    FLDID32 id = BADFLDID;
    if (fbname == "-" || !lookup || !lookup(std::string(fbname), id)) {
      throw Failure{"type '-' needs a known field, not '" + std::string(fbname) + "'"};
    }
    member.type = Fldtype32(id);
    const bool viewable = (member.type >= FLD_SHORT && member.type <= FLD_CARRAY) || member.type == FLD_MBSTRING;
    if (!viewable) throw Failure{"field " + std::string(fbname) + " has no view type"};
  } else {
    member.type = TypeFromViewName(typeWord);
    if (member.type < 0) {
      throw Failure{typeWord == "dec_t" ? std::string("type dec_t is not supported")
                                        : "unknown type '" + std::string(typeWord) + "'"};
    }
  }
  if (!IsIdentifier(cname)) throw Failure{"bad cname '" + std::string(cname) + "'"};
  member.cname = std::string(cname);
  if (fbname != "-") {
    if (!IsIdentifier(fbname)) throw Failure{"bad fbname '" + std::string(fbname) + "'"};
    member.fbname = std::string(fbname);
  }
  member.count = static_cast<int>(ParseCount(count, kMaxCount, "count"));
  if (IsTextType(member.type)) {
    member.size = static_cast<std::size_t>(ParseCount(size, kMaxSize, "size"));
  } else {
    switch (member.type) {
      case FLD_SHORT: member.size = sizeof(short); break;
      case FLD_LONG: member.size = sizeof(long); break;
      case FLD_CHAR: member.size = sizeof(char); break;
      case FLD_FLOAT: member.size = sizeof(float); break;
      case FLD_DOUBLE: member.size = sizeof(double); break;
      default: member.size = sizeof(int); break;
    }
  }
  SetFlags(member, flags);
  if (member.type == FLD_MBSTRING) member.lengthMember = true;
  SetNull(member, null);
  return member;
}

std::size_t AlignmentOf(int type) {
  switch (type) {
    case FLD_SHORT: return alignof(short);
    case FLD_LONG: return alignof(long);
    case FLD_FLOAT: return alignof(float);
    case FLD_DOUBLE: return alignof(double);
    case FLD_INT: return alignof(int);
    default: return 1;
  }
}

std::size_t Place(std::size_t& at, std::size_t alignment, std::size_t bytes, std::size_t& structAlignment) {
  at = (at + alignment - 1) / alignment * alignment;
  const std::size_t offset = at;
  at += bytes;
  structAlignment = std::max(structAlignment, alignment);
  return offset;
}

// Offsets as a C compiler lays the members out: each at the next multiple
// of its alignment, the whole rounded up to the largest alignment.
void ComputeLayout(ViewDescription& view) {
  std::size_t at = 0;
  for (ViewMember& member : view.members) {
    if (member.countMember) member.countOffset = Place(at, alignof(short), sizeof(short), view.alignment);
    if (member.lengthMember) {
      member.lengthOffset = Place(at, alignof(unsigned short),
                                  sizeof(unsigned short) * static_cast<std::size_t>(member.count), view.alignment);
    }
    member.offset = Place(at, AlignmentOf(member.type), member.size * static_cast<std::size_t>(member.count),
                          view.alignment);
    if (at > kMaxStructSize) throw Failure{"view " + view.name + " is too large"};
  }
  view.size = (at + view.alignment - 1) / view.alignment * view.alignment;
}

}  // namespace

const ViewMember* ViewDescription::Find(std::string_view cname) const noexcept {
  for (const ViewMember& member : members) {
    if (member.cname == cname) return &member;
  }
  return nullptr;
}

const char* ViewTypeName(int type) noexcept {
  switch (type) {
    case FLD_SHORT: return "short";
    case FLD_LONG: return "long";
    case FLD_CHAR: return "char";
    case FLD_FLOAT: return "float";
    case FLD_DOUBLE: return "double";
    case FLD_STRING: return "string";
    case FLD_CARRAY: return "carray";
    case FLD_INT: return "int";
    case FLD_MBSTRING: return "mbstring";
    default: return "?";
  }
}

const char* CTypeName(int type) noexcept {
  switch (type) {
    case FLD_SHORT: return "short";
    case FLD_LONG: return "long";
    case FLD_FLOAT: return "float";
    case FLD_DOUBLE: return "double";
    case FLD_INT: return "int";
    default: return "char";
  }
}

bool ParseViewFile(std::string_view text, const FieldLookup& lookup, std::vector<ViewDescription>& views,
                   ViewFileProblem& problem) {
  std::vector<ViewDescription> parsed;
  std::set<std::string> names;
  std::vector<std::string> pendingHeader;
  std::set<std::string> memberNames;  // of the open view
  ViewDescription* open = nullptr;
  int number = 0;
  try {
    while (!text.empty()) {
      ++number;
      const std::size_t newline = text.find('\n');
      const std::string_view raw = text.substr(0, newline);
      text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
      const std::string_view line = Trim(raw);
      if (line.empty() || line.front() == '#') continue;
      if (line.front() == '$') {
        pendingHeader.emplace_back(line.substr(1));
        continue;
      }
      if (line.find('\0') != std::string_view::npos) throw Failure{"a zero byte in the line"};
      std::string_view rest = line;
      const std::string_view keyword = NextWord(rest);
      if (keyword == "VIEW") {
        if (open != nullptr) throw Failure{"VIEW " + open->name + " has no END"};
        const std::string_view name = NextWord(rest);
        if (!IsIdentifier(name) || name.size() > kMaxViewName || !Trim(rest).empty()) {
          throw Failure{"bad view name '" + std::string(Trim(line.substr(4))) + "'"};
        }
        if (!names.insert(std::string(name)).second) throw Failure{"view " + std::string(name) + " defined again"};
        open = &parsed.emplace_back();
        memberNames.clear();
        open->name = std::string(name);
        open->headerText.swap(pendingHeader);
      } else if (keyword == "END") {
        if (open == nullptr) throw Failure{"END without VIEW"};
        if (open->members.empty()) throw Failure{"view " + open->name + " has no members"};
        ComputeLayout(*open);
        open = nullptr;
      } else {
        if (open == nullptr) throw Failure{"a member outside VIEW ... END"};
        ViewMember member = ParseMember(line, lookup);
        // The structure's own names, count and length members included,
        // must be distinct, or the header would not compile.
        std::vector<std::string> declared{member.cname};
        if (member.countMember) declared.push_back("C_" + member.cname);
        if (member.lengthMember) declared.push_back("L_" + member.cname);
        for (const std::string& name : declared) {
          if (!memberNames.insert(name).second) throw Failure{"cname " + name + " used twice in view " + open->name};
        }
        open->members.push_back(std::move(member));
      }
    }
    ++number;
    if (open != nullptr) throw Failure{"VIEW " + open->name + " has no END"};
  } catch (const Failure& failure) {
    problem.line = number;
    problem.message = failure.message;
    views.clear();
    return false;
  }
  views = std::move(parsed);
  return true;
}

}  // namespace Tx::Fml32Builtin
