// Form files: components saved with their published properties and read
// back, in the framework's binary form format and its text form format.
//
// Binary form format. A form starts with the signature "TPF0", followed by
// the root component. A component is written as
//   [prefix: 0xF0 | flags (ffInherited, ffChildPos, ffInline), then the
//    child position as an integer value when ffChildPos is set]
//   class name, instance name              (short strings: length byte + bytes)
//   properties: name (short string) + value, ...,   an empty name (0)
//   owned components, each as above, ...,            an empty name (0)
// A value is a type tag (TValueType) and its data; integers are little
// endian. Property names of objects published by a property are written as
// paths ("SendData.FBFRContents").
//
// Text form format: the same tree as readable text,
//   object Name: TClass
//     Count = 3
//     Caption = 'Dzie'#324' dobry'
//     Options = [opOne, opTwo]
//     Items = <
//       item
//         Name = 'A'
//       end>
//     Data = {
//       0102FF}
//   end
// Strings are quoted ('' stands for a quote); characters below a blank and
// above the ASCII range are written as #n with their Unicode number, so a
// text form is plain ASCII and reads the same everywhere. Long strings are
// broken into pieces joined by '+'.
//
// What is written: the properties published through TPublisher below, in
// the order they were published (the base class's first), except those
// equal to their declared default, those whose stored condition is false
// and those without a setter (objects published by a property are written
// through their own properties). Then each object's DefineProperties data.
// Events are not written.
//
// Reading checks the whole form's structure before it changes anything, so
// a damaged, truncated or foreign form is refused (EReadError with the byte
// offset, EParserError with the line for text) and the components are left
// as they were. Components of the form are found in the root by name or
// created through the class registry (EClassNotFound for an unknown class).
// A property that fails to read raises with "Error reading <path>: " in
// front of its message, keeping its exception class; components created by
// that read are freed again, but properties already read stay as read.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/Streams.h"

namespace Tx {

// A text form that cannot be parsed: "<what> on line <n>".
TX_DECLARE_EXCEPTION(EParserError, Exception);

// ---- Value tags of the binary form format -------------------------------------

enum TValueType : unsigned char {
  vaNull = 0,  // end of a list or collection
  vaList = 1,  // values up to vaNull
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,  // 80-bit floating point
  vaString = 6,    // length byte + bytes
  vaIdent = 7,     // an identifier (enumeration value, component reference)
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,   // 32-bit length + bytes
  vaSet = 11,      // names up to an empty name
  vaLString = 12,  // 32-bit length + bytes
  vaNil = 13,
  vaCollection = 14,  // items (vaList, properties, vaNull) up to vaNull
  vaSingle = 15,      // 32-bit floating point
  vaCurrency = 16,    // 64-bit integer, value times 10000
  vaDate = 17,        // 64-bit floating point, days since 1899-12-30
  vaWString = 18,     // 32-bit length in characters + UTF-16 LE
  vaInt64 = 19,
  vaUTF8String = 20,  // 32-bit length + UTF-8 bytes
  vaDouble = 21,      // 64-bit floating point
};

// Flags of a component's prefix byte.
enum TFilerFlag : unsigned char { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

// The signature at the start of a binary form.
inline constexpr char FormSignature[] = "TPF0";

// ---- Published properties ----------------------------------------------------

enum TTypeKind : unsigned char {
  tkInteger,  // up to 32 bits
  tkInt64,
  tkEnumeration,  // bool included (False, True)
  tkFloat,
  tkString,
  tkSet,    // bit i for the i-th name
  tkClass,  // an object: a collection, a persistent object read in
            // place, or a reference to a component of the form
};

// One published property. Accessors take the instance; those a property
// does not have are empty.
struct TPropInfo {
  AnsiString Name;
  TTypeKind Kind = tkInteger;
  std::vector<AnsiString> Names;  // tkEnumeration, tkSet: value names in order
  bool HasDefault = false;        // ordinals and sets: Default is declared
  long long Default = 0;
  std::function<bool(TPersistent*)> Stored;  // empty: always stored

  std::function<long long(TPersistent*)> GetOrdinal;  // integers, enumerations, sets
  std::function<void(TPersistent*, long long)> SetOrdinal;
  std::function<double(TPersistent*)> GetFloat;
  std::function<void(TPersistent*, double)> SetFloat;
  std::function<AnsiString(TPersistent*)> GetString;
  std::function<void(TPersistent*, const AnsiString&)> SetString;
  std::function<TPersistent*(TPersistent*)> GetObject;
  std::function<void(TPersistent*, TPersistent*)> SetObject;

  bool Writable() const noexcept { return SetOrdinal || SetFloat || SetString || SetObject; }
};

template <class T>
class TPublisher;
template <class T, class Base>
TPublisher<T> PublishClass(const AnsiString& Name);

// A class known to the form reader and writer: its name, its base class,
// the properties it publishes itself and, for components, how to make one.
class TPublishedClass {
 public:
  const AnsiString& Name() const noexcept { return FName; }
  const TPublishedClass* Parent() const noexcept { return FParent; }
  // The properties of the class and its bases, the bases' first.
  std::vector<const TPropInfo*> Properties() const;
  // The property of that name (ignoring case), or nullptr.
  const TPropInfo* FindProperty(const AnsiString& Name) const;
  // A new component of this class owned by Owner; nullptr for classes that
  // are not components or cannot be made from an owner alone.
  TComponent* CreateComponent(TComponent* Owner) const;
  bool IsInstance(const TPersistent* Object) const { return FIsInstance(Object); }
  // Number of bases up to TPersistent.
  int Depth() const noexcept;

 private:
  template <class T>
  friend class TPublisher;
  template <class T, class Base>
  friend TPublisher<T> PublishClass(const AnsiString& Name);
  friend class TClassRegistry;

  AnsiString FName;
  const std::type_info* FType = nullptr;
  const TPublishedClass* FParent = nullptr;
  std::vector<TPropInfo> FProperties;
  bool (*FIsInstance)(const TPersistent*) = nullptr;
  TComponent* (*FCreate)(TComponent*) = nullptr;
};

// The process-wide registry of published classes. Registration happens when
// units are initialised, on the application's thread.
class TClassRegistry {
 public:
  static TClassRegistry& Instance();
  // The class of that name (ignoring case), or nullptr.
  const TPublishedClass* Find(const AnsiString& Name) const;
  // The most derived registered class that Object is an instance of, or nullptr.
  const TPublishedClass* ClassOf(const TPersistent* Object) const;
  // The entry of type T, made (empty) when T is new; IsNew tells which.
  TPublishedClass& Entry(const std::type_info& Type, const AnsiString& Name,
                         const TPublishedClass* Parent, bool& IsNew);
  // The entry of exactly type T, or nullptr.
  const TPublishedClass* Exact(const std::type_info& Type) const;

 private:
  TClassRegistry();
  std::vector<std::unique_ptr<TPublishedClass>> FClasses;
};

// The class of Name (ignoring case); EClassNotFound "Class <Name> not found".
const TPublishedClass& FindClass(const AnsiString& Name);
// The registered class of Object's dynamic type (or its nearest registered base).
const TPublishedClass* PublishedClassOf(const TPersistent* Object);

namespace FilerDetail {
template <class M>
struct SetterArg;
template <class C, class A>
struct SetterArg<void (C::*)(A)> {
  using type = std::remove_cvref_t<A>;
};
template <class C, class A>
struct SetterArg<void (C::*)(A) noexcept> {
  using type = std::remove_cvref_t<A>;
};
template <class S>
constexpr bool IsNoSetter = std::is_same_v<S, std::nullptr_t>;
[[noreturn]] void InvalidPropertyValue();
}  // namespace FilerDetail

// Publishes the properties of T, a class derived from Base (TPersistent,
// TComponent, TCollectionItem or another published class). Getters are
// member functions of T taking nothing, setters member functions taking
// the value; nullptr as setter publishes a read-only property, which is not
// written to forms. Calls chain; Default and Stored apply to the property
// published last:
//
//   PublishClass<TTxService, TComponent>("TTxService")
//       .String("ServiceName", &TTxService::GetServiceName, &TTxService::SetServiceName)
//       .Bool("Cached", &TTxService::GetCached, &TTxService::SetCached).Default(false);
//
// Publishing a class that is already registered changes nothing, so a
// unit's registration function may run more than once. A component class
// constructible from its owner can then be created by the form reader.
template <class T>
class TPublisher {
 public:
  TPublisher(TPublishedClass* Class, bool Active) : FClass(Class), FActive(Active) {}

  template <class G, class S>
  TPublisher& Integer(const char* Name, G Get, S Set) {
    return Ordinal(Name, tkInteger, Get, Set, {});
  }
  template <class G, class S>
  TPublisher& Int64(const char* Name, G Get, S Set) {
    return Ordinal(Name, tkInt64, Get, Set, {});
  }
  template <class G, class S>
  TPublisher& Bool(const char* Name, G Get, S Set) {
    return Ordinal(Name, tkEnumeration, Get, Set, {"False", "True"});
  }
  template <class G, class S>
  TPublisher& Enum(const char* Name, G Get, S Set, std::initializer_list<const char*> Names) {
    return Ordinal(Name, tkEnumeration, Get, Set, Names);
  }
  // A set held as a bit mask: bit i stands for Names[i].
  template <class G, class S>
  TPublisher& SetOf(const char* Name, G Get, S Set, std::initializer_list<const char*> Names) {
    return Ordinal(Name, tkSet, Get, Set, Names);
  }
  template <class G, class S>
  TPublisher& Float(const char* Name, G Get, S Set) {
    TPropInfo& p = Add(Name, tkFloat);
    p.GetFloat = [Get](TPersistent* o) { return static_cast<double>(std::invoke(Get, Cast(o))); };
    if constexpr (!FilerDetail::IsNoSetter<S>) {
      using Arg = typename FilerDetail::SetterArg<S>::type;
      p.SetFloat = [Set](TPersistent* o, double v) {
        if constexpr (std::is_same_v<Arg, float>) {
          // Beyond float's range a value becomes an infinity rather than undefined.
          if (v > std::numeric_limits<float>::max()) v = std::numeric_limits<double>::infinity();
          if (v < -std::numeric_limits<float>::max()) v = -std::numeric_limits<double>::infinity();
        }
        std::invoke(Set, Cast(o), static_cast<Arg>(v));
      };
    }
    return *this;
  }
  template <class G, class S>
  TPublisher& String(const char* Name, G Get, S Set) {
    TPropInfo& p = Add(Name, tkString);
    p.GetString = [Get](TPersistent* o) { return AnsiString(std::invoke(Get, Cast(o))); };
    if constexpr (!FilerDetail::IsNoSetter<S>) {
      p.SetString = [Set](TPersistent* o, const AnsiString& v) { std::invoke(Set, Cast(o), v); };
    }
    return *this;
  }
  // An object: a collection or persistent object is read into the object
  // the getter gives; a component is a reference, set through the setter
  // once the whole form is read (a setter of another class raises
  // EPropertyError "Invalid property value").
  template <class G, class S>
  TPublisher& Object(const char* Name, G Get, S Set) {
    TPropInfo& p = Add(Name, tkClass);
    p.GetObject = [Get](TPersistent* o) -> TPersistent* { return std::invoke(Get, Cast(o)); };
    if constexpr (!FilerDetail::IsNoSetter<S>) {
      using Arg = typename FilerDetail::SetterArg<S>::type;  // X*
      p.SetObject = [Set](TPersistent* o, TPersistent* v) {
        auto* typed = dynamic_cast<Arg>(v);
        if (v != nullptr && typed == nullptr) FilerDetail::InvalidPropertyValue();
        std::invoke(Set, Cast(o), typed);
      };
    }
    return *this;
  }

  // The declared default of the last ordinal or set property: a value equal
  // to it is not written.
  TPublisher& Default(long long Value) {
    if (FLast != nullptr) {
      FLast->HasDefault = true;
      FLast->Default = Value;
    }
    return *this;
  }
  // The stored condition of the last property: a member function of T
  // returning bool; the property is written only while it returns true.
  template <class P>
  TPublisher& Stored(P Predicate) {
    if (FLast != nullptr) {
      FLast->Stored = [Predicate](TPersistent* o) {
        return static_cast<bool>(std::invoke(Predicate, Cast(o)));
      };
    }
    return *this;
  }

 private:
  static T* Cast(TPersistent* o) { return static_cast<T*>(o); }

  TPropInfo& Add(const char* Name, TTypeKind Kind) {
    TPropInfo info;
    info.Name = Name;
    info.Kind = Kind;
    if (!FActive) {
      FScratch = std::move(info);
      FLast = nullptr;
      return FScratch;
    }
    FClass->FProperties.push_back(std::move(info));
    FLast = &FClass->FProperties.back();
    return *FLast;
  }

  template <class G, class S>
  TPublisher& Ordinal(const char* Name, TTypeKind Kind, G Get, S Set,
                      std::initializer_list<const char*> Names) {
    TPropInfo& p = Add(Name, Kind);
    for (const char* n : Names) p.Names.emplace_back(n);
    p.GetOrdinal = [Get](TPersistent* o) {
      return static_cast<long long>(std::invoke(Get, Cast(o)));
    };
    if constexpr (!FilerDetail::IsNoSetter<S>) {
      using Arg = typename FilerDetail::SetterArg<S>::type;
      p.SetOrdinal = [Set](TPersistent* o, long long v) {
        std::invoke(Set, Cast(o), static_cast<Arg>(v));
      };
    }
    return *this;
  }

  TPublishedClass* FClass;
  bool FActive;
  TPropInfo* FLast = nullptr;
  TPropInfo FScratch;
};

template <class T, class Base>
TPublisher<T> PublishClass(const AnsiString& Name) {
  static_assert(std::is_base_of_v<Base, T> && std::is_base_of_v<TPersistent, Base>,
                "T must derive from Base, a persistent class");
  // A base that was not published itself stands in for by the nearest
  // framework class, so that T still inherits what that class publishes.
  const TPublishedClass* parent = TClassRegistry::Instance().Exact(typeid(Base));
  if (parent == nullptr) {
    if constexpr (std::is_base_of_v<TComponent, Base>) {
      parent = TClassRegistry::Instance().Exact(typeid(TComponent));
    } else if constexpr (std::is_base_of_v<TCollectionItem, Base>) {
      parent = TClassRegistry::Instance().Exact(typeid(TCollectionItem));
    } else if constexpr (std::is_base_of_v<TCollection, Base>) {
      parent = TClassRegistry::Instance().Exact(typeid(TCollection));
    } else {
      parent = TClassRegistry::Instance().Exact(typeid(TPersistent));
    }
  }
  bool isNew = false;
  TPublishedClass& entry = TClassRegistry::Instance().Entry(typeid(T), Name, parent, isNew);
  if (isNew) {
    entry.FIsInstance = [](const TPersistent* o) { return dynamic_cast<const T*>(o) != nullptr; };
    if constexpr (std::is_base_of_v<TComponent, T> && std::is_constructible_v<T, TComponent*>) {
      entry.FCreate = [](TComponent* owner) -> TComponent* { return new T(owner); };
    }
  }
  return TPublisher<T>(&entry, isNew);
}

// ---- Writer ----------------------------------------------------------------------

// Writes components to a stream in the binary form format. The writer does
// not own the stream; failures of the stream raise EWriteError, and an
// object's own writer procedure may raise anything (the form is then
// incomplete and the caller discards it).
class TWriter : public TFiler {
 public:
  explicit TWriter(TStream* Stream) : TFiler(Stream) {}

  void DefineProperty(const AnsiString& Name, TReaderProc ReadData, TWriterProc WriteData,
                      bool HasData) override;
  void DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  // The signature, then Root with its owned components.
  void WriteRootComponent(TComponent* Root);
  // One component: header, properties and, for the root, its owned components.
  void WriteComponent(TComponent* Component);
  // The properties of Instance (published, then its DefineProperties data).
  void WriteProperties(TPersistent* Instance);
  void WriteCollection(TCollection* Value);

  // Values, each with its tag; integers take the smallest tag that holds them.
  void WriteValue(TValueType Value);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  void WriteInteger(long long Value);
  void WriteBoolean(bool Value) { WriteValue(Value ? vaTrue : vaFalse); }
  // vaString up to 255 bytes, else vaLString; the bytes are Windows-1250.
  void WriteString(const AnsiString& Value);
  void WriteIdent(const AnsiString& Value);
  void WriteFloat(double Value);  // vaExtended
  // A short string without tag: length byte and bytes; EWriteError beyond 255 bytes.
  void WriteStr(const AnsiString& Value);

 private:
  void WriteProperty(TPersistent* Instance, const TPropInfo& Prop);
  void WritePropName(const AnsiString& Name);
  void WriteBytes(const void* Data, std::int64_t Count) { Stream()->WriteBuffer(Data, Count); }

  AnsiString FPropPath;  // "Object." while an object's properties are written
};

// ---- Reader ----------------------------------------------------------------------

// Reads components from a stream in the binary form format. The reader does
// not own the stream. See the top of this file for what failures do.
class TReader : public TFiler {
 public:
  explicit TReader(TStream* Stream) : TFiler(Stream) {}
  ~TReader() override;

  void DefineProperty(const AnsiString& Name, TReaderProc ReadData, TWriterProc WriteData,
                      bool HasData) override;
  void DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  // Reads a whole form into Root, or into a new component of the form's
  // class (owned by nobody; the caller frees it) when Root is nullptr. The
  // form's class must be Root's (EReadError otherwise). Every component read
  // carries csLoading and, while its own properties are read, csReading;
  // Loaded() is called on each, the root first, once everything is read.
  TComponent* ReadRootComponent(TComponent* Root);

  // Checks the structure of the form at the stream's position without
  // changing anything; the position is restored. EReadError with the offset.
  void CheckFormStructure();

  // Values. Each raises EReadError "Invalid property value" when the value
  // at the position has another type.
  TValueType ReadValue();
  TValueType NextValue();
  bool EndOfList() { return NextValue() == vaNull; }
  void ReadListBegin();
  void ReadListEnd();
  long long ReadInt64();
  int ReadInteger();
  bool ReadBoolean();
  AnsiString ReadString();  // any string tag, as Windows-1250
  AnsiString ReadIdent();   // vaIdent, and False/True/nil/Null for their tags
  double ReadFloat();       // any floating-point or integer tag
  void ReadCollection(TCollection* Collection);
  // Skips one value of any type.
  void SkipValue();
  // A short string without tag.
  AnsiString ReadStr();

 private:
  // A component reference, set once the whole form is read.
  struct Fixup {
    TPersistent* Instance;
    const TPropInfo* Prop;
    AnsiString Name;
    AnsiString Path;
  };
  struct ComponentHeader {
    unsigned char Flags = 0;
    AnsiString ClassName;
    AnsiString Name;
  };

  ComponentHeader ReadHeader();
  void ReadSignature();
  void ReadComponentData(TComponent* Component);
  bool EndOfChildren();
  void ReadChild(TComponent* RootComponent);
  void ReadProperty(TPersistent* Instance);
  void ReadPropValue(TPersistent* Instance, const TPropInfo& Prop);
  long long ReadSetValue(const TPropInfo& Prop);
  unsigned char ReadByte();
  [[noreturn]] void Damaged(const char* What);
  [[noreturn]] void PropertyMissing(const AnsiString& Name);

  AnsiString FPropName;  // the name DefineProperties is asked about
  bool FPropHandled = false;
  AnsiString FPath;  // "Component.Property" of the value being read
  std::vector<Fixup> FFixups;
  std::vector<TComponent*> FLoaded;
};

// ---- Conversions and helpers ----------------------------------------------------

// Converts a binary form at Input's position to the text form, written at
// Output's position. EReadError for a damaged binary form.
void ObjectBinaryToText(TStream* Input, TStream* Output);
// Converts a text form to the binary form. EParserError "<what> on line <n>".
void ObjectTextToBinary(TStream* Input, TStream* Output);

enum class TFormFileFormat : unsigned char { ffBinary, ffText };

// Writes Instance and its owned components as a form.
void WriteComponentToStream(TStream* Stream, TComponent* Instance,
                            TFormFileFormat Format = TFormFileFormat::ffBinary);
// Reads a form, binary or text (told apart by the signature), into
// Instance, or into a new component when Instance is nullptr. Returns it.
TComponent* ReadComponentFromStream(TStream* Stream, TComponent* Instance);
// The same on a file; EFCreateError or EFOpenError when the file cannot be
// made or opened.
void WriteComponentFile(const AnsiString& FileName, TComponent* Instance,
                        TFormFileFormat Format = TFormFileFormat::ffText);
TComponent* ReadComponentFile(const AnsiString& FileName, TComponent* Instance);

}  // namespace Tx
