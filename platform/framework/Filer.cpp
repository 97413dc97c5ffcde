#include "platform/framework/Filer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "platform/framework/TextCompare.h"

namespace Tx {

namespace {

// Lists, collections and components nest at most this deep; deeper input
// is refused rather than followed down the stack.
constexpr int kMaxNesting = 64;

[[noreturn]] void InvalidValue() { throw EReadError(AnsiString("Invalid property value")); }

// ---- Little-endian numbers ----------------------------------------------------------

void PutLE(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLE(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return value;
}

// The 80-bit extended format: 64-bit significand with an explicit leading
// bit, 15-bit exponent biased by 16383, sign. Converted by arithmetic so
// that it works whatever long double is on this machine.
void DoubleToExtended(double value, unsigned char out[10]) {
  std::uint64_t significand = 0;
  unsigned exponent = 0;
  const bool negative = std::signbit(value);
  if (std::isnan(value)) {
    exponent = 0x7FFF;
    significand = 0xC000000000000000ULL;
  } else if (std::isinf(value)) {
    exponent = 0x7FFF;
    significand = 0x8000000000000000ULL;
  } else if (value != 0.0) {
    int e = 0;
    const double fraction = std::frexp(std::fabs(value), &e);  // [0.5, 1)
    significand = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
    exponent = static_cast<unsigned>(e - 1 + 16383);
  }
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(significand >> (8 * i));
  const unsigned top = exponent | (negative ? 0x8000U : 0U);
  out[8] = static_cast<unsigned char>(top & 0xFF);
  out[9] = static_cast<unsigned char>(top >> 8);
}

double ExtendedToDouble(const unsigned char in[10]) {
  const std::uint64_t significand = GetLE(in, 8);
  const unsigned top = in[8] | (static_cast<unsigned>(in[9]) << 8);
  const bool negative = (top & 0x8000U) != 0;
  const int exponent = static_cast<int>(top & 0x7FFFU);
  double value = 0.0;
  if (exponent == 0x7FFF) {
    value = (significand << 1) == 0 ? std::numeric_limits<double>::infinity()
                                    : std::numeric_limits<double>::quiet_NaN();
  } else if (significand != 0) {
    value = std::ldexp(static_cast<double>(significand), exponent - 16383 - 63);
  }
  return negative ? -value : value;
}

// ---- Byte input with positions for messages --------------------------------------

class Input {
 public:
  explicit Input(TStream* stream) : FStream(stream) {}

  [[noreturn]] void Damaged(const char* what) {
    throw EReadError("Damaged form data at byte " + AnsiString(FStream->GetPosition()) + ": " +
                     what);
  }
  std::int64_t Remaining() {
    const std::int64_t left = FStream->GetSize() - FStream->GetPosition();
    return left < 0 ? 0 : left;
  }
  void Bytes(void* data, std::int64_t count) {
    if (count < 0) Damaged("negative length");
    auto* out = static_cast<unsigned char*>(data);
    while (count > 0) {
      const int n = FStream->Read(out, static_cast<int>(std::min<std::int64_t>(count, 1 << 30)));
      if (n <= 0) Damaged("unexpected end of data");
      out += n;
      count -= n;
    }
  }
  unsigned char Byte() {
    unsigned char b = 0;
    Bytes(&b, 1);
    return b;
  }
  std::uint64_t Number(int bytes) {
    unsigned char raw[8];
    Bytes(raw, bytes);
    return GetLE(raw, bytes);
  }
  // A 32-bit length that the rest of the stream can hold (times Unit bytes).
  std::int64_t Length(int unit) {
    const auto n = static_cast<std::int32_t>(Number(4));
    if (n < 0 || static_cast<std::int64_t>(n) * unit > Remaining())
      Damaged("length beyond the data");
    return n;
  }
  std::string Raw(std::int64_t count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    if (count > 0) Bytes(bytes.data(), count);
    return bytes;
  }
  AnsiString ShortString() {
    const unsigned char n = Byte();
    return AnsiString(Raw(n));
  }
  void Skip(std::int64_t count) {
    if (count > Remaining()) Damaged("unexpected end of data");
    FStream->Seek(count, soCurrent);
  }

 private:
  TStream* FStream;
};

// A double narrowed to float; beyond float's range it becomes an infinity.
float NarrowToSingle(double value) {
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

bool IsIntegerTag(TValueType t) {
  return t == vaInt8 || t == vaInt16 || t == vaInt32 || t == vaInt64;
}

// ---- Code points ---------------------------------------------------------------------

std::u32string Utf16ToCodePoints(const std::u16string& units) {
  std::u32string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(u);
    }
  }
  return out;
}

// UTF-8 decoding that never fails: a byte that does not start a valid
// sequence stands for its Windows-1250 character.
std::u32string Utf8ToCodePoints(std::string_view bytes) {
  std::u32string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int extra = b < 0xC2 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b <= 0xF4 ? 3 : 0;
    char32_t cp = b & (0x3FU >> extra);
    bool valid = extra > 0 && i + static_cast<std::size_t>(extra) < bytes.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      valid = (c & 0xC0U) == 0x80U;
      cp = (cp << 6) | (c & 0x3FU);
    }
    const char32_t smallest = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (valid && (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (valid) {
      out.push_back(cp);
      i += static_cast<std::size_t>(extra) + 1;
    } else {
      out.push_back(b < 0x80 ? b : Cp1250ToUnicode(b));
      ++i;
    }
  }
  return out;
}

std::u32string AnsiToCodePoints(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (const char c : bytes) out.push_back(Cp1250ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

AnsiString CodePointsToAnsi(const std::u32string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t cp : text) {
    const int b = UnicodeToCp1250(cp);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return AnsiString(std::move(out));
}

bool AllInCp1250(const std::u32string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char32_t cp) { return UnicodeToCp1250(cp) >= 0; });
}

std::u16string CodePointsToUtf16(const std::u32string& text) {
  std::u16string out;
  for (const char32_t cp : text) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

// Reads the data of a string tag as code points.
std::u32string ReadStringData(Input& in, TValueType tag) {
  switch (tag) {
    case vaString:
      return AnsiToCodePoints(in.Raw(in.Byte()));
    case vaLString:
      return AnsiToCodePoints(in.Raw(in.Length(1)));
    case vaUTF8String:
      return Utf8ToCodePoints(in.Raw(in.Length(1)));
    case vaWString: {
      const std::int64_t n = in.Length(2);
      const std::string raw = in.Raw(n * 2);
      std::u16string units(static_cast<std::size_t>(n), u'\0');
      for (std::int64_t i = 0; i < n; ++i)
        units[static_cast<std::size_t>(i)] = static_cast<char16_t>(
            GetLE(reinterpret_cast<const unsigned char*>(raw.data()) + 2 * i, 2));
      return Utf16ToCodePoints(units);
    }
    default:
      InvalidValue();
  }
}

bool IsStringTag(TValueType t) {
  return t == vaString || t == vaLString || t == vaWString || t == vaUTF8String;
}

// Appends a string value (tag and data) to a binary form: Windows-1250
// bytes when every character has one, else UTF-16.
void PutStringValue(std::string& out, const std::u32string& text) {
  if (AllInCp1250(text)) {
    const std::string bytes = CodePointsToAnsi(text).str();
    if (bytes.size() <= 255) {
      out.push_back(static_cast<char>(vaString));
      out.push_back(static_cast<char>(bytes.size()));
    } else {
      out.push_back(static_cast<char>(vaLString));
      PutLE(out, bytes.size(), 4);
    }
    out += bytes;
    return;
  }
  const std::u16string units = CodePointsToUtf16(text);
  out.push_back(static_cast<char>(vaWString));
  PutLE(out, units.size(), 4);
  for (const char16_t u : units) PutLE(out, u, 2);
}

void PutInteger(std::string& out, long long value) {
  if (value >= -128 && value <= 127) {
    out.push_back(static_cast<char>(vaInt8));
    PutLE(out, static_cast<std::uint64_t>(value), 1);
  } else if (value >= -32768 && value <= 32767) {
    out.push_back(static_cast<char>(vaInt16));
    PutLE(out, static_cast<std::uint64_t>(value), 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    out.push_back(static_cast<char>(vaInt32));
    PutLE(out, static_cast<std::uint64_t>(value), 4);
  } else {
    out.push_back(static_cast<char>(vaInt64));
    PutLE(out, static_cast<std::uint64_t>(value), 8);
  }
}

void PutShortString(std::string& out, const AnsiString& text) {
  if (text.Length() > 255) throw EWriteError("Name too long for a form: " + text.SubString(1, 64));
  out.push_back(static_cast<char>(text.Length()));
  out += text.str();
}

// The name under which a component's class is written.
AnsiString FormClassName(const TComponent* component) {
  if (const TPublishedClass* exact = TClassRegistry::Instance().Exact(typeid(*component)))
    return exact->Name();
  return component->ClassName();
}

}  // namespace

namespace FilerDetail {
void InvalidPropertyValue() { throw EPropertyError(AnsiString("Invalid property value")); }
}  // namespace FilerDetail

// ---- Class registry -------------------------------------------------------------------

std::vector<const TPropInfo*> TPublishedClass::Properties() const {
  std::vector<const TPropInfo*> all =
      FParent ? FParent->Properties() : std::vector<const TPropInfo*>{};
  for (const TPropInfo& p : FProperties) all.push_back(&p);
  return all;
}

const TPropInfo* TPublishedClass::FindProperty(const AnsiString& Name) const {
  for (const TPublishedClass* c = this; c != nullptr; c = c->FParent) {
    for (const TPropInfo& p : c->FProperties) {
      if (SameText(p.Name, Name)) return &p;
    }
  }
  return nullptr;
}

TComponent* TPublishedClass::CreateComponent(TComponent* Owner) const {
  return FCreate ? FCreate(Owner) : nullptr;
}

int TPublishedClass::Depth() const noexcept {
  int depth = 0;
  for (const TPublishedClass* c = FParent; c != nullptr; c = c->FParent) ++depth;
  return depth;
}

TClassRegistry::TClassRegistry() {
  bool isNew = false;
  TPublishedClass& persistent = Entry(typeid(TPersistent), "TPersistent", nullptr, isNew);
  persistent.FIsInstance = [](const TPersistent*) { return true; };
  TPublishedClass& component = Entry(typeid(TComponent), "TComponent", &persistent, isNew);
  component.FIsInstance = [](const TPersistent* o) {
    return dynamic_cast<const TComponent*>(o) != nullptr;
  };
  TPropInfo tag;
  tag.Name = "Tag";
  tag.HasDefault = true;
  tag.GetOrdinal = [](TPersistent* o) {
    return static_cast<long long>(static_cast<TComponent*>(o)->Tag());
  };
  tag.SetOrdinal = [](TPersistent* o, long long v) {
    static_cast<TComponent*>(o)->SetTag(static_cast<long>(v));
  };
  component.FProperties.push_back(std::move(tag));
  TPublishedClass& collection = Entry(typeid(TCollection), "TCollection", &persistent, isNew);
  collection.FIsInstance = [](const TPersistent* o) {
    return dynamic_cast<const TCollection*>(o) != nullptr;
  };
  TPublishedClass& item = Entry(typeid(TCollectionItem), "TCollectionItem", &persistent, isNew);
  item.FIsInstance = [](const TPersistent* o) {
    return dynamic_cast<const TCollectionItem*>(o) != nullptr;
  };
}

TClassRegistry& TClassRegistry::Instance() {
  static TClassRegistry registry;
  return registry;
}

const TPublishedClass* TClassRegistry::Find(const AnsiString& Name) const {
  for (const auto& c : FClasses) {
    if (SameText(c->FName, Name)) return c.get();
  }
  return nullptr;
}

const TPublishedClass* TClassRegistry::Exact(const std::type_info& Type) const {
  for (const auto& c : FClasses) {
    if (*c->FType == Type) return c.get();
  }
  return nullptr;
}

const TPublishedClass* TClassRegistry::ClassOf(const TPersistent* Object) const {
  if (Object == nullptr) return nullptr;
  if (const TPublishedClass* exact = Exact(typeid(*Object))) return exact;
  const TPublishedClass* best = nullptr;
  for (const auto& c : FClasses) {
    if (c->IsInstance(Object) && (best == nullptr || c->Depth() > best->Depth())) best = c.get();
  }
  return best;
}

TPublishedClass& TClassRegistry::Entry(const std::type_info& Type, const AnsiString& Name,
                                       const TPublishedClass* Parent, bool& IsNew) {
  for (const auto& c : FClasses) {
    if (*c->FType == Type) {
      IsNew = false;
      return *c;
    }
  }
  auto entry = std::make_unique<TPublishedClass>();
  entry->FName = Name;
  entry->FType = &Type;
  entry->FParent = Parent;
  FClasses.push_back(std::move(entry));
  IsNew = true;
  return *FClasses.back();
}

const TPublishedClass& FindClass(const AnsiString& Name) {
  const TPublishedClass* found = TClassRegistry::Instance().Find(Name);
  if (found == nullptr) throw EClassNotFound("Class " + Name + " not found");
  return *found;
}

const TPublishedClass* PublishedClassOf(const TPersistent* Object) {
  return TClassRegistry::Instance().ClassOf(Object);
}

// ---- TWriter ----------------------------------------------------------------------------

void TWriter::WriteValue(TValueType Value) {
  const auto tag = static_cast<unsigned char>(Value);
  WriteBytes(&tag, 1);
}

void TWriter::WriteInteger(long long Value) {
  std::string out;
  PutInteger(out, Value);
  WriteBytes(out.data(), static_cast<std::int64_t>(out.size()));
}

void TWriter::WriteString(const AnsiString& Value) {
  std::string out;
  if (Value.Length() <= 255) {
    out.push_back(static_cast<char>(vaString));
    out.push_back(static_cast<char>(Value.Length()));
  } else {
    out.push_back(static_cast<char>(vaLString));
    PutLE(out, static_cast<std::uint64_t>(Value.Length()), 4);
  }
  out += Value.str();
  WriteBytes(out.data(), static_cast<std::int64_t>(out.size()));
}

void TWriter::WriteIdent(const AnsiString& Value) {
  WriteValue(vaIdent);
  WriteStr(Value);
}

void TWriter::WriteFloat(double Value) {
  unsigned char raw[11];
  raw[0] = vaExtended;
  DoubleToExtended(Value, raw + 1);
  WriteBytes(raw, sizeof raw);
}

void TWriter::WriteStr(const AnsiString& Value) {
  std::string out;
  PutShortString(out, Value);
  WriteBytes(out.data(), static_cast<std::int64_t>(out.size()));
}

void TWriter::WritePropName(const AnsiString& Name) { WriteStr(FPropPath + Name); }

void TWriter::DefineProperty(const AnsiString& Name, TReaderProc /*ReadData*/,
                             TWriterProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  WritePropName(Name);
  WriteData(this);
}

void TWriter::DefineBinaryProperty(const AnsiString& Name, TStreamProc /*ReadData*/,
                                   TStreamProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  // The data is made first, so that a writer procedure that refuses leaves
  // nothing of the property behind.
  TMemoryStream data;
  WriteData(&data);
  const std::int64_t size = data.GetSize();
  if (size > INT32_MAX) throw EWriteError("Property " + Name + " is too large for a form");
  WritePropName(Name);
  WriteValue(vaBinary);
  std::string length;
  PutLE(length, static_cast<std::uint64_t>(size), 4);
  WriteBytes(length.data(), 4);
  if (size > 0) WriteBytes(data.Memory(), size);
}

void TWriter::WriteRootComponent(TComponent* Root) {
  SetRoot(Root);
  WriteBytes(FormSignature, 4);
  WriteComponent(Root);
}

void TWriter::WriteComponent(TComponent* Component) {
  struct WritingState {
    TComponent* c;
    ~WritingState() { c->SetWriting(false); }
  } state{Component};
  Component->SetWriting(true);
  WriteStr(FormClassName(Component));
  WriteStr(Component->Name());
  WriteProperties(Component);
  WriteListEnd();
  if (Component == Root()) {
    for (int i = 0; i < Component->ComponentCount(); ++i) WriteComponent(Component->Components(i));
  }
  WriteListEnd();
}

void TWriter::WriteProperties(TPersistent* Instance) {
  if (const TPublishedClass* cls = PublishedClassOf(Instance)) {
    for (const TPropInfo* p : cls->Properties()) WriteProperty(Instance, *p);
  }
  Instance->DefineProperties(this);
}

void TWriter::WriteProperty(TPersistent* Instance, const TPropInfo& Prop) {
  if (!Prop.Writable()) return;
  if (Prop.Stored && !Prop.Stored(Instance)) return;
  switch (Prop.Kind) {
    case tkInteger:
    case tkInt64:
    case tkEnumeration:
    case tkSet: {
      const long long value = Prop.GetOrdinal(Instance);
      if (Prop.HasDefault && value == Prop.Default) return;
      if (Prop.Kind == tkEnumeration &&
          (value < 0 || value >= static_cast<long long>(Prop.Names.size()))) {
        throw EWriteError("Property " + Prop.Name + " holds no value of its type (" +
                          AnsiString(value) + ")");
      }
      WritePropName(Prop.Name);
      if (Prop.Kind == tkEnumeration) {
        const bool isBool =
            Prop.Names.size() == 2 && Prop.Names[0] == "False" && Prop.Names[1] == "True";
        if (isBool) {
          WriteBoolean(value != 0);
        } else {
          WriteIdent(Prop.Names[static_cast<std::size_t>(value)]);
        }
      } else if (Prop.Kind == tkSet) {
        WriteValue(vaSet);
        for (std::size_t i = 0; i < Prop.Names.size() && i < 64; ++i) {
          if ((static_cast<unsigned long long>(value) >> i) & 1U) WriteStr(Prop.Names[i]);
        }
        WriteStr(AnsiString());
      } else {
        WriteInteger(value);
      }
      return;
    }
    case tkFloat: {
      const double value = Prop.GetFloat(Instance);
      if (value == 0.0) return;
      WritePropName(Prop.Name);
      WriteFloat(value);
      return;
    }
    case tkString: {
      const AnsiString value = Prop.GetString(Instance);
      if (value.IsEmpty()) return;
      WritePropName(Prop.Name);
      WriteString(value);
      return;
    }
    case tkClass: {
      TPersistent* object = Prop.GetObject(Instance);
      if (object == nullptr) return;
      if (auto* component = dynamic_cast<TComponent*>(object)) {
        AnsiString name;
        if (component == Root() || component->Owner() == Root()) {
          name = component->Name();
        } else if (component->Owner() != nullptr && !component->Owner()->Name().IsEmpty()) {
          name = component->Owner()->Name() + "." + component->Name();
        }
        if (name.IsEmpty()) return;
        WritePropName(Prop.Name);
        WriteIdent(name);
        return;
      }
      if (auto* collection = dynamic_cast<TCollection*>(object)) {
        if (collection->Count() == 0) return;
        WritePropName(Prop.Name);
        WriteCollection(collection);
        return;
      }
      const AnsiString saved = FPropPath;
      FPropPath = FPropPath + Prop.Name + ".";
      try {
        WriteProperties(object);
      } catch (...) {
        FPropPath = saved;
        throw;
      }
      FPropPath = saved;
      return;
    }
  }
}

void TWriter::WriteCollection(TCollection* Value) {
  WriteValue(vaCollection);
  const AnsiString saved = FPropPath;
  FPropPath = AnsiString();
  try {
    for (int i = 0; i < Value->Count(); ++i) {
      WriteListBegin();
      WriteProperties(Value->Items(i));
      WriteListEnd();
    }
  } catch (...) {
    FPropPath = saved;
    throw;
  }
  FPropPath = saved;
  WriteListEnd();
}

// ---- TReader ----------------------------------------------------------------------------

TReader::~TReader() = default;

unsigned char TReader::ReadByte() { return Input(Stream()).Byte(); }

void TReader::Damaged(const char* What) { Input(Stream()).Damaged(What); }

void TReader::PropertyMissing(const AnsiString& Name) {
  throw EReadError("Property " + Name + " does not exist");
}

TValueType TReader::ReadValue() {
  const unsigned char tag = ReadByte();
  if (tag > vaDouble) Damaged("unknown value type");
  return static_cast<TValueType>(tag);
}

TValueType TReader::NextValue() {
  const TValueType tag = ReadValue();
  Stream()->Seek(std::int64_t{-1}, soCurrent);
  return tag;
}

void TReader::ReadListBegin() {
  if (ReadValue() != vaList) InvalidValue();
}

void TReader::ReadListEnd() {
  if (ReadValue() != vaNull) InvalidValue();
}

AnsiString TReader::ReadStr() { return Input(Stream()).ShortString(); }

long long TReader::ReadInt64() {
  Input in(Stream());
  switch (ReadValue()) {
    case vaInt8:
      return static_cast<std::int8_t>(in.Number(1));
    case vaInt16:
      return static_cast<std::int16_t>(in.Number(2));
    case vaInt32:
      return static_cast<std::int32_t>(in.Number(4));
    case vaInt64:
      return static_cast<std::int64_t>(in.Number(8));
    default:
      InvalidValue();
  }
}

int TReader::ReadInteger() {
  const long long value = ReadInt64();
  if (value < INT32_MIN || value > INT32_MAX) InvalidValue();
  return static_cast<int>(value);
}

bool TReader::ReadBoolean() {
  switch (ReadValue()) {
    case vaFalse:
      return false;
    case vaTrue:
      return true;
    default:
      InvalidValue();
  }
}

AnsiString TReader::ReadString() {
  const TValueType tag = ReadValue();
  if (!IsStringTag(tag)) InvalidValue();
  Input in(Stream());
  if (tag == vaString) return AnsiString(in.Raw(in.Byte()));
  if (tag == vaLString) return AnsiString(in.Raw(in.Length(1)));
  return CodePointsToAnsi(ReadStringData(in, tag));
}

AnsiString TReader::ReadIdent() {
  switch (ReadValue()) {
    case vaIdent:
      return ReadStr();
    case vaFalse:
      return "False";
    case vaTrue:
      return "True";
    case vaNil:
      return "nil";
    case vaNull:
      return "Null";
    default:
      InvalidValue();
  }
}

double TReader::ReadFloat() {
  const TValueType tag = NextValue();
  if (IsIntegerTag(tag)) return static_cast<double>(ReadInt64());
  ReadValue();
  Input in(Stream());
  switch (tag) {
    case vaExtended: {
      unsigned char raw[10];
      in.Bytes(raw, 10);
      return ExtendedToDouble(raw);
    }
    case vaSingle: {
      const auto bits = static_cast<std::uint32_t>(in.Number(4));
      float value = 0;
      std::memcpy(&value, &bits, 4);
      return value;
    }
    case vaDouble:
    case vaDate: {
      const std::uint64_t bits = in.Number(8);
      double value = 0;
      std::memcpy(&value, &bits, 8);
      return value;
    }
    case vaCurrency:
      return static_cast<double>(static_cast<std::int64_t>(in.Number(8))) / 10000.0;
    default:
      InvalidValue();
  }
}

void TReader::SkipValue() {
  Input in(Stream());
  switch (ReadValue()) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil:
      return;
    case vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      return;
    case vaInt8:
      in.Skip(1);
      return;
    case vaInt16:
      in.Skip(2);
      return;
    case vaInt32:
    case vaSingle:
      in.Skip(4);
      return;
    case vaExtended:
      in.Skip(10);
      return;
    case vaInt64:
    case vaCurrency:
    case vaDate:
    case vaDouble:
      in.Skip(8);
      return;
    case vaString:
    case vaIdent:
      in.Skip(in.Byte());
      return;
    case vaBinary:
    case vaLString:
    case vaUTF8String:
      in.Skip(in.Length(1));
      return;
    case vaWString:
      in.Skip(in.Length(2) * 2);
      return;
    case vaSet:
      while (!ReadStr().IsEmpty()) {
      }
      return;
    case vaCollection:
      while (!EndOfList()) {
        if (IsIntegerTag(NextValue())) ReadInt64();
        if (ReadValue() != vaList) Damaged("collection item expected");
        while (!ReadStr().IsEmpty()) SkipValue();
      }
      ReadListEnd();
      return;
  }
}

void TReader::ReadSignature() {
  char signature[4] = {};
  if (Stream()->Read(signature, 4) != 4 || std::memcmp(signature, FormSignature, 4) != 0) {
    throw EReadError(AnsiString("Invalid stream format: a form starts with TPF0"));
  }
}

TReader::ComponentHeader TReader::ReadHeader() {
  ComponentHeader header;
  const unsigned char first = ReadByte();
  if ((first & 0xF0) == 0xF0) {
    header.Flags = first & 0x0F;
    if ((header.Flags & ffChildPos) != 0) ReadInt64();
  } else {
    Stream()->Seek(std::int64_t{-1}, soCurrent);
  }
  header.ClassName = ReadStr();
  header.Name = ReadStr();
  if (header.ClassName.IsEmpty()) Damaged("component without a class name");
  return header;
}

// The structure pass: every value is skipped with its tag and length
// checked, every component's class is looked up, nothing is changed.
void TReader::CheckFormStructure() {
  const std::int64_t start = Stream()->GetPosition();
  struct Restore {
    TStream* s;
    std::int64_t at;
    ~Restore() { s->SetPosition(at); }
  } restore{Stream(), start};
  ReadSignature();
  // Lists, collections and components are walked here rather than by
  // SkipValue, so that their depth is counted and bounded.
  struct Walker {
    TReader& r;
    TComponent* root;
    int depth = 0;
    void Value() {
      if (++depth > kMaxNesting) r.Damaged("values nested too deep");
      const TValueType tag = r.NextValue();
      if (tag == vaList) {
        r.ReadValue();
        while (!r.EndOfList()) Value();
        r.ReadListEnd();
      } else if (tag == vaCollection) {
        r.ReadValue();
        while (!r.EndOfList()) {
          if (IsIntegerTag(r.NextValue())) r.ReadInt64();
          if (r.ReadValue() != vaList) r.Damaged("collection item expected");
          while (!r.ReadStr().IsEmpty()) Value();
        }
        r.ReadListEnd();
      } else {
        r.SkipValue();
      }
      --depth;
    }
    void Component(bool isRoot) {
      if (++depth > kMaxNesting) r.Damaged("components nested too deep");
      const ComponentHeader header = r.ReadHeader();
      if (!isRoot && (root == nullptr || root->FindComponent(header.Name) == nullptr))
        FindClass(header.ClassName);
      while (!r.ReadStr().IsEmpty()) Value();
      while (!r.EndOfChildren()) Component(false);
      r.ReadByte();
      --depth;
    }
  } walker{*this, Root()};
  walker.Component(true);
}

TComponent* TReader::ReadRootComponent(TComponent* Root) {
  SetRoot(Root);
  CheckFormStructure();
  ReadSignature();
  const ComponentHeader header = ReadHeader();
  std::unique_ptr<TComponent> created;
  if (Root == nullptr) {
    created.reset(FindClass(header.ClassName).CreateComponent(nullptr));
    if (!created) throw EReadError("Class " + header.ClassName + " cannot be created by a form");
    Root = created.get();
    SetRoot(Root);
  } else if (!SameText(header.ClassName, FormClassName(Root))) {
    throw EReadError("The form holds a " + header.ClassName + ", not a " + FormClassName(Root));
  }

  // Components this read adds are freed again when it fails.
  std::vector<TComponent*> existing;
  for (int i = 0; i < Root->ComponentCount(); ++i) existing.push_back(Root->Components(i));
  try {
    Root->SetName(header.Name);
    FLoaded.push_back(Root);
    Root->SetLoading();
    Root->SetReading(true);
    ReadComponentData(Root);
    for (const Fixup& f : FFixups) {
      TComponent* target = SameText(f.Name, Root->Name()) ? Root : Root->FindComponent(f.Name);
      if (target == nullptr) {
        throw EReadError("Error reading " + f.Path + ": component " + f.Name + " not found");
      }
      try {
        f.Prop->SetObject(f.Instance, target);
      } catch (Exception& e) {
        e.Message = "Error reading " + f.Path + ": " + e.Message;
        throw;
      }
    }
    Root->SetReading(false);
  } catch (...) {
    for (TComponent* c : FLoaded) {
      c->SetReading(false);
      c->TComponent::Loaded();  // clears csLoading without the class's own reaction
    }
    if (created) {
      FLoaded.clear();
      throw;  // the new root takes its children with it
    }
    // Components this read added are freed; the ones that were there stay.
    for (int i = Root->ComponentCount() - 1; i >= 0; --i) {
      TComponent* c = Root->Components(i);
      if (std::find(existing.begin(), existing.end(), c) == existing.end()) delete c;
    }
    FLoaded.clear();
    throw;
  }

  std::vector<TComponent*> loaded;
  loaded.swap(FLoaded);
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    try {
      loaded[i]->Loaded();
    } catch (...) {
      for (std::size_t k = i + 1; k < loaded.size(); ++k) loaded[k]->TComponent::Loaded();
      throw;
    }
  }
  return created ? created.release() : Root;
}

void TReader::ReadComponentData(TComponent* Component) {
  while (!EndOfList()) ReadProperty(Component);
  ReadListEnd();
  while (!EndOfChildren()) ReadChild(Root());
  ReadByte();
}

// A component may start with its prefix byte, which is no value tag.
bool TReader::EndOfChildren() {
  const unsigned char next = ReadByte();
  Stream()->Seek(std::int64_t{-1}, soCurrent);
  return next == 0;
}

void TReader::ReadChild(TComponent* RootComponent) {
  const ComponentHeader header = ReadHeader();
  TComponent* component = RootComponent->FindComponent(header.Name);
  if (component != nullptr) {
    if (!SameText(FormClassName(component), header.ClassName)) {
      throw EReadError("Error reading " + header.Name + ": the form holds a " + header.ClassName +
                       ", the component is a " + FormClassName(component));
    }
  } else {
    component = FindClass(header.ClassName).CreateComponent(RootComponent);
    if (component == nullptr)
      throw EReadError("Class " + header.ClassName + " cannot be created by a form");
    try {
      component->SetName(header.Name);
    } catch (...) {
      delete component;
      throw;
    }
  }
  FLoaded.push_back(component);
  component->SetLoading();
  component->SetReading(true);
  ReadComponentData(component);
  component->SetReading(false);
}

void TReader::ReadProperty(TPersistent* Instance) {
  const AnsiString name = ReadStr();
  const bool outermost = FPath.IsEmpty();
  if (outermost) {
    const auto* component = dynamic_cast<const TComponent*>(Instance);
    FPath = (component ? component->Name() : Instance->GetNamePath()) + "." + name;
  }
  try {
    // A path ("SendData.FBFRContents") leads through published objects.
    TPersistent* target = Instance;
    AnsiString rest = name;
    for (int dot = rest.Pos("."); dot > 0; dot = rest.Pos(".")) {
      const AnsiString step = rest.SubString(1, dot - 1);
      rest = rest.SubString(dot + 1, rest.Length());
      const TPublishedClass* cls = PublishedClassOf(target);
      const TPropInfo* prop = cls ? cls->FindProperty(step) : nullptr;
      if (prop == nullptr || prop->Kind != tkClass) PropertyMissing(step);
      TPersistent* next = prop->GetObject(target);
      if (next == nullptr || dynamic_cast<TComponent*>(next) != nullptr)
        throw EReadError("Invalid property path " + name);
      target = next;
    }
    const TPublishedClass* cls = PublishedClassOf(target);
    const TPropInfo* prop = cls ? cls->FindProperty(rest) : nullptr;
    if (prop != nullptr) {
      ReadPropValue(target, *prop);
    } else {
      FPropName = rest;
      FPropHandled = false;
      target->DefineProperties(this);
      FPropName = AnsiString();
      if (!FPropHandled) PropertyMissing(rest);
    }
  } catch (Exception& e) {
    if (outermost) {
      e.Message = "Error reading " + FPath + ": " + e.Message;
      FPath = AnsiString();
    }
    throw;
  } catch (...) {
    if (outermost) FPath = AnsiString();
    throw;
  }
  if (outermost) FPath = AnsiString();
}

long long TReader::ReadSetValue(const TPropInfo& Prop) {
  if (ReadValue() != vaSet) InvalidValue();
  unsigned long long bits = 0;
  for (AnsiString element = ReadStr(); !element.IsEmpty(); element = ReadStr()) {
    bool found = false;
    for (std::size_t i = 0; i < Prop.Names.size() && i < 64; ++i) {
      if (SameText(Prop.Names[i], element)) {
        bits |= 1ULL << i;
        found = true;
      }
    }
    if (!found) InvalidValue();
  }
  return static_cast<long long>(bits);
}

void TReader::ReadPropValue(TPersistent* Instance, const TPropInfo& Prop) {
  if (Prop.Kind != tkClass && !Prop.Writable())
    throw EReadError("Property " + Prop.Name + " is read-only");
  switch (Prop.Kind) {
    case tkInteger:
      Prop.SetOrdinal(Instance, ReadInteger());
      return;
    case tkInt64:
      Prop.SetOrdinal(Instance, ReadInt64());
      return;
    case tkEnumeration: {
      const AnsiString ident = ReadIdent();
      for (std::size_t i = 0; i < Prop.Names.size(); ++i) {
        if (SameText(Prop.Names[i], ident)) {
          Prop.SetOrdinal(Instance, static_cast<long long>(i));
          return;
        }
      }
      InvalidValue();
    }
    case tkSet:
      Prop.SetOrdinal(Instance, ReadSetValue(Prop));
      return;
    case tkFloat:
      Prop.SetFloat(Instance, ReadFloat());
      return;
    case tkString:
      Prop.SetString(Instance, ReadString());
      return;
    case tkClass: {
      const TValueType tag = NextValue();
      TPersistent* object = Prop.GetObject(Instance);
      if (tag == vaCollection) {
        auto* collection = dynamic_cast<TCollection*>(object);
        if (collection == nullptr) InvalidValue();
        ReadCollection(collection);
        return;
      }
      if (!Prop.SetObject) InvalidValue();
      if (tag == vaNil) {
        ReadValue();
        Prop.SetObject(Instance, nullptr);
        return;
      }
      if (tag != vaIdent) InvalidValue();
      FFixups.push_back({Instance, &Prop, ReadIdent(), FPath});
      return;
    }
  }
}

void TReader::ReadCollection(TCollection* Collection) {
  if (ReadValue() != vaCollection) InvalidValue();
  struct Updating {
    TCollection* c;
    ~Updating() {
      try {
        c->EndUpdate();
      } catch (...) {
        // An Update override that raises while an error is already leaving.
      }
    }
  } updating{Collection};
  Collection->BeginUpdate();
  Collection->Clear();
  while (!EndOfList()) {
    if (IsIntegerTag(NextValue())) ReadInt64();
    ReadListBegin();
    TCollectionItem* item = Collection->Add();
    while (!EndOfList()) ReadProperty(item);
    ReadListEnd();
  }
  ReadListEnd();
}

void TReader::DefineProperty(const AnsiString& Name, TReaderProc ReadData,
                             TWriterProc /*WriteData*/, bool /*HasData*/) {
  if (FPropName.IsEmpty() || !ReadData || !SameText(Name, FPropName)) return;
  FPropName = AnsiString();
  ReadData(this);
  FPropHandled = true;
}

void TReader::DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData,
                                   TStreamProc /*WriteData*/, bool /*HasData*/) {
  if (FPropName.IsEmpty() || !ReadData || !SameText(Name, FPropName)) return;
  FPropName = AnsiString();
  if (ReadValue() != vaBinary) InvalidValue();
  Input in(Stream());
  const std::int64_t size = in.Length(1);
  TMemoryStream data;
  data.SetSize(size);
  if (size > 0) in.Bytes(data.Memory(), size);
  data.SetPosition(0);
  ReadData(&data);
  FPropHandled = true;
}

// ---- Binary to text -----------------------------------------------------------------------

namespace {

constexpr int kLineWidth = 64;

std::string FloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// A string as the text form writes it: quoted runs of printable ASCII and
// #n for everything else.
std::string QuotedPieces(const std::u32string& text, std::vector<std::string>& pieces) {
  std::string current;
  bool quoted = false;
  auto flush = [&] {
    if (quoted) current += '\'';
    quoted = false;
    if (!current.empty()) pieces.push_back(current);
    current.clear();
  };
  for (const char32_t cp : text) {
    if (static_cast<int>(current.size()) > kLineWidth) flush();
    if (cp >= 32 && cp < 127) {
      if (!quoted) {
        current += '\'';
        quoted = true;
      }
      current += static_cast<char>(cp);
      if (cp == '\'') current += '\'';
    } else {
      if (quoted) current += '\'';
      quoted = false;
      current += "#" + std::to_string(static_cast<unsigned long>(cp));
    }
  }
  flush();
  if (pieces.empty()) pieces.emplace_back("''");
  std::string joined;
  for (const std::string& p : pieces) joined += p;
  return joined;
}

class BinaryToText {
 public:
  BinaryToText(TStream* input, std::string& out) : FReader(input), FIn(input), FOut(out) {}

  void Convert() {
    char signature[4] = {};
    FIn.Bytes(signature, 4);
    if (std::memcmp(signature, FormSignature, 4) != 0)
      throw EReadError(AnsiString("Invalid stream format: a form starts with TPF0"));
    Object(0);
  }

 private:
  void Indent(int level) { FOut.append(static_cast<std::size_t>(level) * 2, ' '); }

  // Names stand in the text as they are, so only identifiers (joined by
  // dots where a path is allowed) can be written there.
  std::string Name(const AnsiString& name, bool path) {
    bool start = true;
    for (const char c : name.str()) {
      const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
      const bool digit = c >= '0' && c <= '9';
      if (c == '.' && path && !start) {
        start = true;
      } else if (letter || (digit && !start)) {
        start = false;
      } else {
        FIn.Damaged("a name that is no identifier");
      }
    }
    if (start) FIn.Damaged("a name that is no identifier");
    return name.str();
  }

  void Object(int level) {
    if (level > kMaxNesting) FIn.Damaged("components nested too deep");
    const unsigned char first = FIn.Byte();
    unsigned char flags = 0;
    std::string position;
    if ((first & 0xF0) == 0xF0) {
      flags = first & 0x0F;
      if ((flags & ffChildPos) != 0) position = " [" + std::to_string(FReader.ReadInt64()) + "]";
    } else {
      FReaderStream()->Seek(std::int64_t{-1}, soCurrent);
    }
    const std::string className = Name(FIn.ShortString(), false);
    const AnsiString instance = FIn.ShortString();
    const std::string name = instance.IsEmpty() ? std::string() : Name(instance, false);
    Indent(level);
    FOut += (flags & ffInherited) != 0 ? "inherited "
            : (flags & ffInline) != 0  ? "inline "
                                       : "object ";
    if (!name.empty()) FOut += name + ": ";
    FOut += className + position + "\n";
    for (AnsiString prop = FIn.ShortString(); !prop.IsEmpty(); prop = FIn.ShortString()) {
      Indent(level + 1);
      FOut += Name(prop, true) + " = ";
      Value(level + 1, 0);
      FOut += "\n";
    }
    for (unsigned char next = FIn.Byte(); next != 0; next = FIn.Byte()) {
      FReaderStream()->Seek(std::int64_t{-1}, soCurrent);
      Object(level + 1);
    }
    Indent(level);
    FOut += "end\n";
  }

  TStream* FReaderStream() { return FReader.Stream(); }

  void Value(int level, int depth) {
    if (depth > kMaxNesting) FIn.Damaged("values nested too deep");
    const TValueType tag = FReader.NextValue();
    switch (tag) {
      case vaList: {
        FReader.ReadValue();
        FOut += "(";
        while (!FReader.EndOfList()) {
          FOut += "\n";
          Indent(level + 1);
          Value(level + 1, depth + 1);
        }
        FReader.ReadListEnd();
        FOut += ")";
        return;
      }
      case vaInt8:
      case vaInt16:
      case vaInt32:
      case vaInt64:
        FOut += std::to_string(FReader.ReadInt64());
        return;
      case vaExtended:
      case vaDouble:
        FOut += FloatText(FReader.ReadFloat());
        return;
      case vaSingle:
        FOut += FloatText(FReader.ReadFloat()) + "s";
        return;
      case vaCurrency:
        FOut += FloatText(FReader.ReadFloat()) + "c";
        return;
      case vaDate:
        FOut += FloatText(FReader.ReadFloat()) + "d";
        return;
      case vaString:
      case vaLString:
      case vaWString:
      case vaUTF8String: {
        FReader.ReadValue();
        std::vector<std::string> pieces;
        const std::string joined = QuotedPieces(ReadStringData(FIn, tag), pieces);
        if (pieces.size() == 1) {
          FOut += joined;
          return;
        }
        for (std::size_t i = 0; i < pieces.size(); ++i) {
          FOut += "\n";
          Indent(level + 1);
          FOut += pieces[i];
          if (i + 1 < pieces.size()) FOut += " +";
        }
        return;
      }
      case vaIdent:
      case vaFalse:
      case vaTrue:
      case vaNil:
      case vaNull:
        FOut += Name(FReader.ReadIdent(), true);
        return;
      case vaBinary: {
        FReader.ReadValue();
        const std::string bytes = FIn.Raw(FIn.Length(1));
        static const char kHex[] = "0123456789ABCDEF";
        FOut += "{";
        for (std::size_t i = 0; i < bytes.size(); ++i) {
          if (i % 32 == 0) {
            FOut += "\n";
            Indent(level + 1);
          }
          const auto b = static_cast<unsigned char>(bytes[i]);
          FOut += kHex[b >> 4];
          FOut += kHex[b & 0x0F];
        }
        FOut += "}";
        return;
      }
      case vaSet: {
        FReader.ReadValue();
        FOut += "[";
        bool first = true;
        for (AnsiString element = FIn.ShortString(); !element.IsEmpty();
             element = FIn.ShortString()) {
          if (!first) FOut += ", ";
          FOut += Name(element, false);
          first = false;
        }
        FOut += "]";
        return;
      }
      case vaCollection: {
        FReader.ReadValue();
        FOut += "<";
        while (!FReader.EndOfList()) {
          FOut += "\n";
          Indent(level + 1);
          FOut += "item";
          if (IsIntegerTag(FReader.NextValue()))
            FOut += " [" + std::to_string(FReader.ReadInt64()) + "]";
          if (FReader.ReadValue() != vaList) FIn.Damaged("collection item expected");
          FOut += "\n";
          for (AnsiString prop = FIn.ShortString(); !prop.IsEmpty(); prop = FIn.ShortString()) {
            Indent(level + 2);
            FOut += Name(prop, true) + " = ";
            Value(level + 2, depth + 1);
            FOut += "\n";
          }
          Indent(level + 1);
          FOut += "end";
        }
        FReader.ReadListEnd();
        FOut += ">";
        return;
      }
    }
  }

  TReader FReader;
  Input FIn;
  std::string& FOut;
};

// ---- Text to binary -------------------------------------------------------------------

enum class Token : unsigned char { End, Symbol, String, Integer, Float, Char };

class TextToBinary {
 public:
  TextToBinary(std::string text, std::string& out) : FText(std::move(text)), FOut(out) { Next(); }

  void Convert() {
    FOut += std::string(FormSignature, 4);
    Object(0);
    if (FToken != Token::End) Error("End of file expected");
  }

 private:
  [[noreturn]] void Error(const std::string& what) {
    throw EParserError(AnsiString(what + " on line " + std::to_string(FTokenLine)));
  }
  std::string Shown() const {
    switch (FToken) {
      case Token::End:
        return "end of file";
      case Token::String:
        return "a string";
      case Token::Char:
        return std::string("'") + FChar + "'";
      default:
        return "'" + FSymbol + "'";
    }
  }
  [[noreturn]] void Expected(const std::string& what) {
    Error(what + " expected but " + Shown() + " found");
  }
  bool IsSymbol(const char* word) const {
    return FToken == Token::Symbol && SameText(AnsiString(FSymbol), AnsiString(word));
  }
  bool IsChar(char c) const { return FToken == Token::Char && FChar == c; }
  void Require(char c) {
    if (!IsChar(c)) Expected(std::string("'") + c + "'");
    Next();
  }
  // An identifier; a dotted path only where Path allows one.
  std::string RequireSymbol(bool path = false) {
    if (FToken != Token::Symbol || (!path && FSymbol.find('.') != std::string::npos))
      Expected("Identifier");
    if (FSymbol.size() > 255) Error("Identifier too long");
    std::string s = FSymbol;
    Next();
    return s;
  }

  // ---- Scanner ----
  char Peek(std::size_t ahead = 0) const {
    return FPos + ahead < FText.size() ? FText[FPos + ahead] : '\0';
  }
  static bool IsIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsHex(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  }

  void Next() {
    while (FPos < FText.size()) {
      const char c = FText[FPos];
      if (c == '\n') ++FLine;
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
      ++FPos;
    }
    FTokenLine = FLine;
    if (FPos >= FText.size()) {
      FToken = Token::End;
      return;
    }
    const char c = FText[FPos];
    if (IsIdentStart(c)) {
      const std::size_t start = FPos;
      while (IsIdentStart(Peek()) || IsDigit(Peek()) || (Peek() == '.' && IsIdentStart(Peek(1))))
        ++FPos;
      FSymbol = FText.substr(start, FPos - start);
      FToken = Token::Symbol;
      return;
    }
    if (c == '\'' || c == '#') {
      ScanString();
      return;
    }
    if (IsDigit(c) || ((c == '-' || c == '+') && (IsDigit(Peek(1)) || Peek(1) == '$')) ||
        c == '$') {
      ScanNumber();
      return;
    }
    FToken = Token::Char;
    FChar = c;
    ++FPos;
  }

  void ScanString() {
    FString.clear();
    while (Peek() == '\'' || Peek() == '#') {
      if (Peek() == '\'') {
        ++FPos;
        std::string run;
        while (true) {
          if (FPos >= FText.size() || Peek() == '\n' || Peek() == '\r')
            Error("Unterminated string");
          if (Peek() == '\'') {
            if (Peek(1) == '\'') {
              run += '\'';
              FPos += 2;
              continue;
            }
            ++FPos;
            break;
          }
          run += FText[FPos++];
        }
        const std::u32string decoded = Utf8ToCodePoints(run);
        FString += decoded;
      } else {
        ++FPos;
        unsigned long value = 0;
        bool any = false;
        const bool hex = Peek() == '$';
        if (hex) ++FPos;
        while (hex ? IsHex(Peek()) : IsDigit(Peek())) {
          const char d = FText[FPos++];
          const unsigned digit = IsDigit(d) ? static_cast<unsigned>(d - '0')
                                            : static_cast<unsigned>((d | 0x20) - 'a' + 10);
          value = value * (hex ? 16 : 10) + digit;
          if (value > 0x10FFFF) Error("Invalid character code");
          any = true;
        }
        if (!any) Error("Character code expected");
        FString.push_back(static_cast<char32_t>(value));
      }
    }
    FToken = Token::String;
  }

  void ScanNumber() {
    const std::size_t start = FPos;
    bool negative = false;
    if (Peek() == '-' || Peek() == '+') negative = FText[FPos++] == '-';
    if (Peek() == '$') {
      ++FPos;
      const std::size_t digits = FPos;
      while (IsHex(Peek())) ++FPos;
      if (FPos == digits || FPos - digits > 16) Error("Invalid hexadecimal number");
      const std::uint64_t value = std::stoull(FText.substr(digits, FPos - digits), nullptr, 16);
      FInteger = static_cast<long long>(negative ? 0 - value : value);
      FToken = Token::Integer;
      FSymbol = FText.substr(start, FPos - start);
      return;
    }
    while (IsDigit(Peek())) ++FPos;
    bool isFloat = false;
    if (Peek() == '.' && IsDigit(Peek(1))) {
      isFloat = true;
      ++FPos;
      while (IsDigit(Peek())) ++FPos;
    }
    if ((Peek() == 'e' || Peek() == 'E') &&
        (IsDigit(Peek(1)) || ((Peek(1) == '-' || Peek(1) == '+') && IsDigit(Peek(2))))) {
      isFloat = true;
      FPos += 2;
      while (IsDigit(Peek())) ++FPos;
    }
    FSymbol = FText.substr(start, FPos - start);
    const char* first = FSymbol.data() + (FSymbol[0] == '+' ? 1 : 0);
    const char* last = FSymbol.data() + FSymbol.size();
    if (isFloat) {
      const auto result = std::from_chars(first, last, FFloat);
      if (result.ec != std::errc() || result.ptr != last) Error("Invalid number " + FSymbol);
      FSuffix = '\0';
      const char s = static_cast<char>(Peek() | 0x20);
      if ((s == 's' || s == 'c' || s == 'd') && !IsIdentStart(Peek(1)) && !IsDigit(Peek(1))) {
        FSuffix = s;
        ++FPos;
      }
      FToken = Token::Float;
      return;
    }
    const auto result = std::from_chars(first, last, FInteger);
    if (result.ec != std::errc() || result.ptr != last) Error("Invalid number " + FSymbol);
    FToken = Token::Integer;
  }

  // ---- Grammar ----
  void Object(int level) {
    if (level > kMaxNesting) Error("Components nested too deep");
    unsigned char flags = 0;
    if (IsSymbol("inherited")) {
      flags = ffInherited;
    } else if (IsSymbol("inline")) {
      flags = ffInline;
    } else if (!IsSymbol("object")) {
      Expected("'object'");
    }
    Next();
    std::string name;
    std::string className = RequireSymbol();
    if (IsChar(':')) {
      Next();
      name = className;
      className = RequireSymbol();
    }
    std::string position;
    if (IsChar('[')) {
      Next();
      if (FToken != Token::Integer) Expected("Integer");
      flags |= ffChildPos;
      PutInteger(position, FInteger);
      Next();
      Require(']');
    }
    if (flags != 0) FOut.push_back(static_cast<char>(0xF0 | flags));
    FOut += position;
    PutShortString(FOut, AnsiString(className));
    PutShortString(FOut, AnsiString(name));
    while (FToken == Token::Symbol && !IsSymbol("end") && !IsSymbol("object") &&
           !IsSymbol("inherited") && !IsSymbol("inline")) {
      Property(level + 1);
    }
    FOut.push_back(static_cast<char>(vaNull));
    while (IsSymbol("object") || IsSymbol("inherited") || IsSymbol("inline")) Object(level + 1);
    FOut.push_back(static_cast<char>(vaNull));
    if (!IsSymbol("end")) Expected("'end'");
    Next();
  }

  void Property(int depth) {
    PutShortString(FOut, AnsiString(RequireSymbol(true)));
    Require('=');
    Value(depth);
  }

  void Value(int depth) {
    if (depth > kMaxNesting) Error("Values nested too deep");
    switch (FToken) {
      case Token::Integer:
        PutInteger(FOut, FInteger);
        Next();
        return;
      case Token::Float:
        PutFloat(FFloat, FSuffix);
        Next();
        return;
      case Token::String: {
        std::u32string text = FString;
        Next();
        while (IsChar('+')) {
          Next();
          if (FToken != Token::String) Expected("String");
          text += FString;
          Next();
        }
        PutStringValue(FOut, text);
        return;
      }
      case Token::Symbol:
        PutSymbol();
        return;
      case Token::Char:
        break;
      case Token::End:
        Expected("Value");
    }
    if (IsChar('-') || IsChar('+')) {  // a sign before INF
      const bool negative = FChar == '-';
      Next();
      if (!IsSymbol("INF")) Expected("Number");
      PutFloat(negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity(),
               '\0');
      Next();
      return;
    }
    if (IsChar('[')) {
      Next();
      FOut.push_back(static_cast<char>(vaSet));
      if (!IsChar(']')) {
        while (true) {
          PutShortString(FOut, AnsiString(RequireSymbol()));
          if (IsChar(']')) break;
          Require(',');
        }
      }
      Next();
      FOut.push_back('\0');
      return;
    }
    if (IsChar('(')) {
      Next();
      FOut.push_back(static_cast<char>(vaList));
      ++FListDepth;
      while (!IsChar(')')) Value(depth + 1);
      --FListDepth;
      Next();
      FOut.push_back(static_cast<char>(vaNull));
      return;
    }
    if (IsChar('{')) {
      ScanBinary();
      return;
    }
    if (IsChar('<')) {
      Next();
      FOut.push_back(static_cast<char>(vaCollection));
      while (!IsChar('>')) {
        if (!IsSymbol("item")) Expected("'item'");
        Next();
        if (IsChar('[')) {
          Next();
          if (FToken != Token::Integer) Expected("Integer");
          PutInteger(FOut, FInteger);
          Next();
          Require(']');
        }
        FOut.push_back(static_cast<char>(vaList));
        while (!IsSymbol("end")) Property(depth + 1);
        Next();
        FOut.push_back(static_cast<char>(vaNull));
      }
      Next();
      FOut.push_back(static_cast<char>(vaNull));
      return;
    }
    Expected("Value");
  }

  void PutSymbol() {
    if (IsSymbol("False")) {
      FOut.push_back(static_cast<char>(vaFalse));
    } else if (IsSymbol("True")) {
      FOut.push_back(static_cast<char>(vaTrue));
    } else if (IsSymbol("nil")) {
      FOut.push_back(static_cast<char>(vaNil));
    } else if (IsSymbol("Null")) {
      // In the binary form the same tag ends a list.
      if (FListDepth > 0) Error("Null cannot stand in a list");
      FOut.push_back(static_cast<char>(vaNull));
    } else if (IsSymbol("INF")) {
      PutFloat(std::numeric_limits<double>::infinity(), '\0');
    } else if (IsSymbol("NAN")) {
      PutFloat(std::numeric_limits<double>::quiet_NaN(), '\0');
    } else {
      if (FSymbol.size() > 255) Error("Identifier too long");
      FOut.push_back(static_cast<char>(vaIdent));
      PutShortString(FOut, AnsiString(FSymbol));
    }
    Next();
  }

  void PutFloat(double value, char suffix) {
    if (suffix == 's') {
      FOut.push_back(static_cast<char>(vaSingle));
      const float single = NarrowToSingle(value);
      std::uint32_t bits = 0;
      std::memcpy(&bits, &single, 4);
      PutLE(FOut, bits, 4);
    } else if (suffix == 'c') {
      if (!(std::fabs(value) < 9.2e14)) Error("Currency value out of range");
      FOut.push_back(static_cast<char>(vaCurrency));
      PutLE(FOut, static_cast<std::uint64_t>(std::llround(value * 10000.0)), 8);
    } else if (suffix == 'd') {
      FOut.push_back(static_cast<char>(vaDate));
      std::uint64_t bits = 0;
      std::memcpy(&bits, &value, 8);
      PutLE(FOut, bits, 8);
    } else {
      FOut.push_back(static_cast<char>(vaExtended));
      unsigned char raw[10];
      DoubleToExtended(value, raw);
      FOut.append(reinterpret_cast<const char*>(raw), 10);
    }
  }

  // "{ hex digits }", white space allowed between the digits.
  void ScanBinary() {
    std::string bytes;
    int high = -1;
    while (true) {
      if (FPos >= FText.size()) Error("'}' expected but end of file found");
      const char c = FText[FPos++];
      if (c == '}') break;
      if (c == '\n') ++FLine;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      if (!IsHex(c)) {
        FTokenLine = FLine;
        Error("Invalid binary value");
      }
      const int digit = IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
      if (high < 0) {
        high = digit;
      } else {
        bytes.push_back(static_cast<char>(high * 16 + digit));
        high = -1;
      }
    }
    if (high >= 0) {
      FTokenLine = FLine;
      Error("Invalid binary value");
    }
    FOut.push_back(static_cast<char>(vaBinary));
    PutLE(FOut, bytes.size(), 4);
    FOut += bytes;
    Next();
  }

  std::string FText;
  std::string& FOut;
  std::size_t FPos = 0;
  int FLine = 1;
  int FTokenLine = 1;
  Token FToken = Token::End;
  std::string FSymbol;
  std::u32string FString;
  long long FInteger = 0;
  double FFloat = 0;
  char FSuffix = '\0';
  int FListDepth = 0;
  char FChar = '\0';
};

std::string ReadRest(TStream* input) {
  std::string text;
  char chunk[4096];
  for (int n = input->Read(chunk, sizeof chunk); n > 0; n = input->Read(chunk, sizeof chunk))
    text.append(chunk, static_cast<std::size_t>(n));
  return text;
}

}  // namespace

void ObjectBinaryToText(TStream* Input, TStream* Output) {
  std::string text;
  BinaryToText(Input, text).Convert();
  Output->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void ObjectTextToBinary(TStream* Input, TStream* Output) {
  std::string binary;
  TextToBinary(ReadRest(Input), binary).Convert();
  Output->WriteBuffer(binary.data(), static_cast<std::int64_t>(binary.size()));
}

void WriteComponentToStream(TStream* Stream, TComponent* Instance, TFormFileFormat Format) {
  if (Format == TFormFileFormat::ffBinary) {
    TWriter(Stream).WriteRootComponent(Instance);
    return;
  }
  TMemoryStream binary;
  TWriter(&binary).WriteRootComponent(Instance);
  binary.SetPosition(0);
  ObjectBinaryToText(&binary, Stream);
}

TComponent* ReadComponentFromStream(TStream* Stream, TComponent* Instance) {
  const std::int64_t start = Stream->GetPosition();
  char signature[4] = {};
  const int n = Stream->Read(signature, 4);
  Stream->SetPosition(start);
  if (n == 4 && std::memcmp(signature, FormSignature, 4) == 0) {
    return TReader(Stream).ReadRootComponent(Instance);
  }
  TMemoryStream binary;
  ObjectTextToBinary(Stream, &binary);
  binary.SetPosition(0);
  return TReader(&binary).ReadRootComponent(Instance);
}

void WriteComponentFile(const AnsiString& FileName, TComponent* Instance, TFormFileFormat Format) {
  // Made in memory first, so that a component that refuses to be written
  // leaves an existing file as it was.
  TMemoryStream form;
  WriteComponentToStream(&form, Instance, Format);
  form.SaveToFile(FileName);
}

TComponent* ReadComponentFile(const AnsiString& FileName, TComponent* Instance) {
  TMemoryStream form;
  form.LoadFromFile(FileName);
  return ReadComponentFromStream(&form, Instance);
}

}  // namespace Tx
