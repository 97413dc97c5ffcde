// Views: C structures described by view files, and their exchange with
// FML32 buffers (Fvftos32, Fvstof32) plus null handling and mapping
// options.
//
// The view files are read as text (there is no compiled form here): on
// first use every file of VIEWFILES32 is parsed and the views are cached
// until Fvrefresh32. Fvopt32 changes the cached copy, so its options hold
// for the whole process until then. Values pass through the conversions of
// CFchg32 and CFget32 whenever member and field types differ.
#include <fml32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "fml32_boolnames.h"
#include "fml32_scratch.h"
#include "fml32_viewcache.h"
#include "fml32_viewfile.h"

using namespace Tx::Fml32Builtin;

namespace {

using ViewPtr = std::shared_ptr<const ViewDescription>;

class ViewCache {
 public:
  // The view called `name`, or null with Ferror32 set: FBADVIEW when no
  // file describes it, FVFOPEN or FVFSYNTAX when a file that might have
  // described it cannot be read.
  ViewPtr Find(const char* name) noexcept {
    if (name == nullptr || *name == '\0') {
      Ferror32 = FBADVIEW;
      return nullptr;
    }
    try {
      std::lock_guard lock(mutex_);
      if (!complete_) Load();
      const auto found = views_.find(name);
      if (found != views_.end()) return found->second;
      Ferror32 = loadError_ != 0 ? loadError_ : FBADVIEW;
    } catch (const std::bad_alloc&) {
      complete_ = false;  // a half-read set of views is read again
      Ferror32 = FMALLOC;
    }
    return nullptr;
  }

  // Sets the mapping of one member; 0, or an error number.
  int SetMapping(const char* name, const char* cname, unsigned mapping) noexcept {
    if (Find(name) == nullptr) return Ferror32;
    try {
      std::lock_guard lock(mutex_);
      const auto found = views_.find(name);
      if (found == views_.end()) return FBADVIEW;  // Fvrefresh32 came in between
      ViewPtr& slot = found->second;
      if (slot->Find(cname) == nullptr) return FNOCNAME;
      auto changed = std::make_shared<ViewDescription>(*slot);  // readers keep the old copy
      for (ViewMember& member : changed->members) {
        if (member.cname == cname) member.mapping = mapping;
      }
      slot = std::move(changed);
      return 0;
    } catch (const std::bad_alloc&) {
      return FMALLOC;
    }
  }

  void Clear() noexcept {
    std::lock_guard lock(mutex_);
    views_.clear();
    complete_ = false;
    loadError_ = 0;
  }

 private:
  void Load() {
    views_.clear();
    loadError_ = 0;
    const char* files = std::getenv("VIEWFILES32");
    complete_ = true;
    for (const std::string& file : Split(files != nullptr ? files : "", ',')) {
      if (!file.empty()) LoadFile(file);
    }
  }

  void LoadFile(const std::string& name) {
    // Programs written for a view compiler name its output, "x.V"; what
    // this engine reads is the source, usually "x.v" or "x".
    std::vector<std::string> candidates{name};
    if (name.size() > 2 && name.ends_with(".V")) {
      const std::string stem = name.substr(0, name.size() - 2);
      candidates.insert(candidates.end(), {stem + ".v", stem});
    }
    std::string text;
    const bool read = std::any_of(candidates.begin(), candidates.end(),
                                  [&](const std::string& candidate) { return ReadFile(Locate(candidate), text); });
    if (!read) {
      Fail(FVFOPEN);
      return;
    }
    std::vector<ViewDescription> views;
    ViewFileProblem problem;
    const FieldLookup lookup = [](const std::string& field, FLDID32& id) {
      id = Fldid32(const_cast<char*>(field.c_str()));
      return id != BADFLDID;
    };
    if (!ParseViewFile(text, lookup, views, problem)) {
      Fail(FVFSYNTAX);
      return;
    }
    for (ViewDescription& view : views) {
      const std::string key = view.name;
      views_.try_emplace(key, std::make_shared<const ViewDescription>(std::move(view)));  // the first file wins
    }
  }

  void Fail(int error) {
    complete_ = false;  // tried again on the next call
    if (loadError_ == 0) loadError_ = error;
  }

  static std::vector<std::string> Split(const std::string& list, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
      const std::size_t at = list.find(separator, start);
      parts.push_back(list.substr(start, at - start));
      if (at == std::string::npos) return parts;
      start = at + 1;
    }
  }

  // A relative name is looked up in the directories of VIEWDIR32 (the
  // current directory when unset).
  static std::string Locate(const std::string& name) {
    const char* directories = std::getenv("VIEWDIR32");
    if (name[0] == '/' || directories == nullptr) return name;
    for (const std::string& directory : Split(directories, ':')) {
      const std::string path = directory.empty() ? name : directory + "/" + name;
      if (std::ifstream(path)) return path;
    }
    return name;
  }

  static bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return !file.bad();
  }

  std::mutex mutex_;
  bool complete_ = false;
  int loadError_ = 0;
  std::unordered_map<std::string, ViewPtr> views_;
};

ViewCache& Cache() {
  static ViewCache cache;
  return cache;
}

bool IsText(int type) { return type == FLD_STRING || type == FLD_CARRAY || type == FLD_MBSTRING; }

char* ElementAt(char* cstruct, const ViewMember& member, int i) {
  return cstruct + member.offset + member.size * static_cast<std::size_t>(i);
}

void StoreCount(char* cstruct, const ViewMember& member, int count) {
  const short value = static_cast<short>(count);
  std::memcpy(cstruct + member.countOffset, &value, sizeof value);
}

short LoadCount(const char* cstruct, const ViewMember& member) {
  short value;
  std::memcpy(&value, cstruct + member.countOffset, sizeof value);
  return value;
}

void StoreLength(char* cstruct, const ViewMember& member, int i, std::size_t length) {
  const auto value = static_cast<unsigned short>(length);
  std::memcpy(cstruct + member.lengthOffset + sizeof value * static_cast<std::size_t>(i), &value, sizeof value);
}

unsigned short LoadLength(const char* cstruct, const ViewMember& member, int i) {
  unsigned short value;
  std::memcpy(&value, cstruct + member.lengthOffset + sizeof value * static_cast<std::size_t>(i), sizeof value);
  return value;
}

// The null value of a text member as it fills one element: with flag P its
// last character repeats up to the element's full length (a string keeps
// room for its zero byte).
std::string NullFill(const ViewMember& member) {
  std::string fill = member.null;
  if (member.propagateNull && !fill.empty()) {
    const std::size_t full = member.size - (member.type == FLD_STRING ? 1 : 0);
    fill.resize(full, fill.back());
  }
  return fill;
}

std::string_view WithoutTrailingZeros(std::string_view bytes) {
  while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
  return bytes;
}

bool IsNullElement(const ViewMember& member, const char* element) {
  if (!member.hasNull) return false;
  if (member.type == FLD_STRING) return std::string_view(element, strnlen(element, member.size)) == NullFill(member);
  if (IsText(member.type)) {
    return WithoutTrailingZeros(std::string_view(element, member.size)) == WithoutTrailingZeros(NullFill(member));
  }
  return std::memcmp(element, member.null.data(), member.size) == 0;
}

// Writes the null value into element i; returns the length member's value.
std::size_t WriteNull(const ViewMember& member, char* element) {
  if (!IsText(member.type)) {
    std::memcpy(element, member.null.data(), member.size);
    return member.size;
  }
  const std::string fill = NullFill(member);
  std::memset(element, 0, member.size);
  std::memcpy(element, fill.data(), fill.size());
  return fill.size() + (member.type == FLD_STRING ? 1 : 0);
}

void InitMember(char* cstruct, const ViewMember& member) {
  for (int i = 0; i < member.count; ++i) {
    const std::size_t length = WriteNull(member, ElementAt(cstruct, member, i));
    if (member.lengthMember) StoreLength(cstruct, member, i, length);
  }
  if (member.countMember) StoreCount(cstruct, member, 0);
}

// The member's field id; BADFLDID with Ferror32 set when the name is unknown.
FLDID32 FieldOf(const ViewMember& member) { return Fldid32(const_cast<char*>(member.fbname.c_str())); }

bool IsRawCopy(int memberType, int fieldType) {
  return (memberType == FLD_MBSTRING || fieldType == FLD_MBSTRING) &&
         (memberType == FLD_CARRAY || memberType == FLD_MBSTRING) &&
         (fieldType == FLD_CARRAY || fieldType == FLD_MBSTRING);
}

// Copies occurrence oc of the field into element i, converted to the
// member's type; text longer than the element is cut. Returns false with
// Ferror32 set.
bool ReadOccurrence(FBFR32* fbfr, FLDID32 id, FLDOCC32 oc, const ViewMember& member, char* element,
                    std::size_t& length) {
  const int fieldType = Fldtype32(id);
  FLDLEN32 len = 0;
  if (IsRawCopy(member.type, fieldType)) {
    const char* value = Ffind32(fbfr, id, oc, &len);
    if (value == nullptr) return false;
    length = std::min<std::size_t>(len, member.size);
    std::memset(element, 0, member.size);
    std::memcpy(element, value, length);
    return true;
  }
  if (member.type == FLD_MBSTRING || fieldType == FLD_MBSTRING) {
    Ferror32 = FTYPERR;
    return false;
  }
  const int asType = member.type == FLD_INT ? FLD_LONG : member.type;
  const char* value = CFfind32(fbfr, id, oc, &len, asType);
  if (value == nullptr) return false;
  switch (member.type) {
    case FLD_INT: {
      long wide;
      std::memcpy(&wide, value, sizeof wide);
      const int narrow = static_cast<int>(wide);
      std::memcpy(element, &narrow, sizeof narrow);
      length = sizeof narrow;
      return true;
    }
    case FLD_STRING:
      length = std::min<std::size_t>(strnlen(value, len), member.size - 1);
      std::memset(element, 0, member.size);
      std::memcpy(element, value, length);
      ++length;  // the zero byte
      return true;
    case FLD_CARRAY:
      length = std::min<std::size_t>(len, member.size);
      std::memset(element, 0, member.size);
      std::memcpy(element, value, length);
      return true;
    default:
      std::memcpy(element, value, member.size);
      length = member.size;
      return true;
  }
}

// Adds element i to the scratch buffer as an occurrence of the field.
bool AddElement(ScratchBuffer& scratch, FLDID32 id, const ViewMember& member, const char* cstruct, int i) {
  const char* element = cstruct + member.offset + member.size * static_cast<std::size_t>(i);
  const int fieldType = Fldtype32(id);
  std::size_t length = member.size;
  if (member.type == FLD_STRING) length = strnlen(element, member.size);
  if ((member.type == FLD_CARRAY || member.type == FLD_MBSTRING) && member.lengthMember) {
    length = std::min<std::size_t>(LoadLength(cstruct, member, i), member.size);
  }
  if (IsRawCopy(member.type, fieldType)) return scratch.Add(id, element, static_cast<FLDLEN32>(length));
  if (member.type == FLD_MBSTRING || fieldType == FLD_MBSTRING) {
    Ferror32 = FTYPERR;
    return false;
  }
  std::string text;
  long wide = 0;
  int fromType = member.type;
  const char* from = element;
  if (member.type == FLD_STRING) {
    text.assign(element, length);  // an element that fills its array has no zero byte of its own
    from = text.c_str();
  } else if (member.type == FLD_INT) {
    int narrow;
    std::memcpy(&narrow, element, sizeof narrow);
    wide = narrow;
    from = reinterpret_cast<const char*>(&wide);
    fromType = FLD_LONG;
  }
  FLDLEN32 converted = 0;
  const char* value = Ftypcvt32(&converted, fieldType, const_cast<char*>(from), fromType,
                                static_cast<FLDLEN32>(length));
  return value != nullptr && scratch.Add(id, value, converted);
}

bool CheckStructArguments(const char* cstruct) {
  if (cstruct != nullptr) return true;
  Ferror32 = FEINVAL;
  return false;
}

// Expressions over a view name its members. Member i stands for the field
// number i + 1 of the member's type (int as long) in a scratch buffer
// made from the structure, its elements the occurrences.
FLDID32 StandInId(const ViewMember& member, std::size_t index) {
  return Fmkfldid32(member.type == FLD_INT ? FLD_LONG : member.type, static_cast<FLDID32>(index + 1));
}

class MemberNames final : public ExpressionNames {
 public:
  explicit MemberNames(const ViewDescription& view) : view_(view) {}
  FLDID32 IdOf(const std::string& name) const override {
    for (std::size_t i = 0; i < view_.members.size(); ++i) {
      if (view_.members[i].cname == name) return StandInId(view_.members[i], i);
    }
    Ferror32 = FNOCNAME;
    return BADFLDID;
  }
  const char* NameOf(FLDID32 id) const override {
    const auto index = static_cast<std::size_t>(Fldno32(id)) - 1;
    return index < view_.members.size() ? view_.members[index].cname.c_str() : nullptr;
  }

 private:
  const ViewDescription& view_;
};

// The structure as a buffer for evaluating expressions: every element up
// to the count member (when there is one) is an occurrence.
bool StructureAsBuffer(const ViewDescription& view, const char* cstruct, ScratchBuffer& scratch) {
  for (std::size_t index = 0; index < view.members.size(); ++index) {
    const ViewMember& member = view.members[index];
    int elements = member.count;
    if (member.countMember) {
      const short acm = LoadCount(cstruct, member);
      if (acm < 0) {
        Ferror32 = FBADACM;
        return false;
      }
      elements = std::min<int>(acm, member.count);
    }
    const FLDID32 id = StandInId(member, index);
    for (int i = 0; i < elements; ++i) {
      const char* element = cstruct + member.offset + member.size * static_cast<std::size_t>(i);
      std::string value;
      switch (member.type) {
        case FLD_INT: {
          int narrow;
          std::memcpy(&narrow, element, sizeof narrow);
          const long wide = narrow;
          value.assign(reinterpret_cast<const char*>(&wide), sizeof wide);
          break;
        }
        case FLD_STRING:
          value.assign(element, strnlen(element, member.size));
          value += '\0';
          break;
        case FLD_CARRAY: case FLD_MBSTRING:
          value.assign(element, member.lengthMember ? std::min<std::size_t>(LoadLength(cstruct, member, i), member.size)
                                                    : member.size);
          break;
        default:
          value.assign(element, member.size);
          break;
      }
      if (!scratch.Add(id, value.data(), static_cast<FLDLEN32>(value.size()))) return false;
    }
  }
  return true;
}

template <typename Evaluate>
auto EvaluateOnStructure(char* cstruct, char* view, Evaluate&& evaluate) -> decltype(evaluate(nullptr)) {
  const ViewPtr found = Cache().Find(view);
  if (found == nullptr || !CheckStructArguments(cstruct)) return -1;
  try {
    ScratchBuffer scratch(static_cast<long>(found->size) * 2 + 256);
    if (!scratch.Valid() || !StructureAsBuffer(*found, cstruct, scratch)) return -1;
    return evaluate(scratch.Get());
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

// The C entry points let no exception out: memory running short is FMALLOC.
template <typename Body>
int NoThrow(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

}  // namespace

std::shared_ptr<const ViewDescription> Tx::Fml32Builtin::FindView(const char* name) noexcept {
  return Cache().Find(name);
}

extern "C" {

char* Fvboolco32(char* expression, char* viewname) {
  const ViewPtr found = Cache().Find(viewname);
  if (found == nullptr) return nullptr;
  const MemberNames names(*found);
  const UseExpressionNames use(names);
  return Fboolco32(expression);
}

int Fvboolev32(char* cstruct, char* tree, char* viewname) {
  return EvaluateOnStructure(cstruct, viewname, [tree](FBFR32* fbfr) { return Fboolev32(fbfr, tree); });
}

double Fvfloatev32(char* cstruct, char* tree, char* viewname) {
  return EvaluateOnStructure(cstruct, viewname, [tree](FBFR32* fbfr) { return Ffloatev32(fbfr, tree); });
}

void Fvboolpr32(char* tree, FILE* iop, char* viewname) {
  const ViewPtr found = Cache().Find(viewname);
  if (found == nullptr) return;
  const MemberNames names(*found);
  const UseExpressionNames use(names);
  Fboolpr32(tree, iop);
}


int Fvftos32(FBFR32* fbfr, char* cstruct, char* view) {
  const ViewPtr found = Cache().Find(view);
  if (found == nullptr || !IsBuffer(fbfr) || !CheckStructArguments(cstruct)) return -1;
  try {
    // Filled in a copy, so a failure leaves the caller's structure alone.
    std::vector<char> result(cstruct, cstruct + found->size);
    for (const ViewMember& member : found->members) {
      if ((member.mapping & kMapToStruct) == 0 || member.fbname.empty()) continue;
      const FLDID32 id = FieldOf(member);
      if (id == BADFLDID) return -1;
      const FLDOCC32 present = Foccur32(fbfr, id);
      if (present < 0) return -1;
      const int transferred = std::min(present, member.count);
      for (int i = 0; i < member.count; ++i) {
        char* element = ElementAt(result.data(), member, i);
        std::size_t length = 0;
        if (i < transferred) {
          if (!ReadOccurrence(fbfr, id, i, member, element, length)) return -1;
        } else {
          length = WriteNull(member, element);
        }
        if (member.lengthMember) StoreLength(result.data(), member, i, length);
      }
      if (member.countMember) StoreCount(result.data(), member, transferred);
    }
    std::memcpy(cstruct, result.data(), result.size());
    return 1;
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

int Fvstof32(FBFR32* fbfr, char* cstruct, int mode, char* view) {
  return NoThrow([&] {
    if (mode != FUPDATE && mode != FOJOIN && mode != FJOIN && mode != FCONCAT) {
      Ferror32 = FEINVAL;
      return -1;
    }
    const ViewPtr found = Cache().Find(view);
    if (found == nullptr || !IsBuffer(fbfr) || !CheckStructArguments(cstruct)) return -1;
    ScratchBuffer scratch(1024);
    if (!scratch.Valid()) return -1;
    for (const ViewMember& member : found->members) {
      if ((member.mapping & kMapToBuffer) == 0 || member.fbname.empty()) continue;
      const FLDID32 id = FieldOf(member);
      if (id == BADFLDID) return -1;
      int elements = member.count;
      if (member.countMember) {
        const short acm = LoadCount(cstruct, member);
        if (acm < 0) {
          Ferror32 = FBADACM;
          return -1;
        }
        elements = std::min<int>(acm, member.count);
      }
      // Null elements stay out of the buffer; the others become occurrences
      // 0, 1, ... in element order.
      for (int i = 0; i < elements; ++i) {
        if (IsNullElement(member, ElementAt(cstruct, member, i))) continue;
        if (!AddElement(scratch, id, member, cstruct, i)) return -1;
      }
    }
    // Each of these builds its result aside and leaves fbfr as it was when
    // it fails.
    switch (mode) {
      case FUPDATE: return Fupdate32(fbfr, scratch.Get());
      case FOJOIN: return Fojoin32(fbfr, scratch.Get());
      case FJOIN: return Fjoin32(fbfr, scratch.Get());
      default: return Fconcat32(fbfr, scratch.Get());
    }
  });
}

int Fvnull32(char* cstruct, char* cname, FLDOCC32 oc, char* view) {
  return NoThrow([&] {
    const ViewPtr found = Cache().Find(view);
    if (found == nullptr) return -1;
    if (cname == nullptr || !CheckStructArguments(cstruct)) {
      Ferror32 = FEINVAL;
      return -1;
    }
    const ViewMember* member = found->Find(cname);
    if (member == nullptr) {
      Ferror32 = FNOCNAME;
      return -1;
    }
    if (oc < 0 || oc >= member->count) {
      Ferror32 = FEINVAL;
      return -1;
    }
    return IsNullElement(*member, ElementAt(cstruct, *member, oc)) ? 1 : 0;
  });
}

int Fvopt32(char* cname, int option, char* view) {
  unsigned mapping = 0;
  switch (option) {
    case F_OFF: mapping = 0; break;
    case F_FTOS: mapping = kMapToStruct; break;
    case F_STOF: mapping = kMapToBuffer; break;
    case F_BOTH: mapping = kMapToStruct | kMapToBuffer; break;
    default: Ferror32 = FEINVAL; return -1;
  }
  if (cname == nullptr || view == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  const int error = Cache().SetMapping(view, cname, mapping);
  if (error != 0) {
    Ferror32 = error;
    return -1;
  }
  return 1;
}

int Fvsinit32(char* cstruct, char* view) {
  return NoThrow([&] {
    const ViewPtr found = Cache().Find(view);
    if (found == nullptr || !CheckStructArguments(cstruct)) return -1;
    for (const ViewMember& member : found->members) InitMember(cstruct, member);
    return 1;
  });
}

int Fvselinit32(char* cstruct, char* cname, char* view) {
  return NoThrow([&] {
    const ViewPtr found = Cache().Find(view);
    if (found == nullptr || !CheckStructArguments(cstruct)) return -1;
    if (cname == nullptr) {
      Ferror32 = FEINVAL;
      return -1;
    }
    const ViewMember* member = found->Find(cname);
    if (member == nullptr) {
      Ferror32 = FNOCNAME;
      return -1;
    }
    InitMember(cstruct, *member);
    return 1;
  });
}

void Fvrefresh32(void) { Cache().Clear(); }

long Fvneeded32(char* subtype) {
  const ViewPtr found = Cache().Find(subtype);
  if (found == nullptr) {
    if (Ferror32 == FBADVIEW) Ferror32 = FEINVAL;
    return -1;
  }
  return static_cast<long>(found->size);
}

}  // extern "C"
