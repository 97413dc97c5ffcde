// The framework's object model: TObject, persistent objects, components with
// ownership and notifications, collections, event closures and the filer
// hook through which objects add their own data to a form file.
//
// Ownership. A component owns the components created with it as owner and
// frees them, last inserted first, when it is destroyed; a component deleted
// on its own first leaves its owner's list. A collection owns its items; an
// item deleted on its own leaves its collection. Neither kind is copyable.
//
// Destruction. C++ runs a derived destructor before the base one, so by the
// time ~TComponent runs, the derived parts are gone and virtual calls reach
// TComponent's own versions. Derived classes that need their owned
// components or their own state torn down while they are still whole do it
// in their own destructor (calling Destroying() first makes csDestroying
// visible to everything they touch).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Exceptions.h"

namespace Tx {

// Component naming and ownership errors ("A component named X already exists").
TX_DECLARE_EXCEPTION(EComponentError, Exception);
// An operation that the object's state does not allow (calling an empty event).
TX_DECLARE_EXCEPTION(EInvalidOperation, Exception);

// ---- Sets ---------------------------------------------------------------------

// The framework's set of enumeration values (at most 64 consecutive values).
template <class E, E MinEl, E MaxEl>
class Set {
  static constexpr int Lo = static_cast<int>(MinEl);
  static constexpr int Hi = static_cast<int>(MaxEl);
  static_assert(Lo <= Hi && Hi - Lo < 64, "a Set holds at most 64 values");

 public:
  constexpr Set() noexcept = default;
  constexpr Set(std::initializer_list<E> items) noexcept {
    for (E e : items) *this << e;
  }

  constexpr bool Contains(E e) const noexcept { return InRange(e) && (FBits & Bit(e)) != 0; }
  constexpr bool Empty() const noexcept { return FBits == 0; }

  // Adds (<<) or removes (>>) one value; values outside MinEl..MaxEl are ignored.
  constexpr Set& operator<<(E e) noexcept {
    if (InRange(e)) FBits |= Bit(e);
    return *this;
  }
  constexpr Set& operator>>(E e) noexcept {
    if (InRange(e)) FBits &= ~Bit(e);
    return *this;
  }

  friend constexpr Set operator+(Set a, Set b) noexcept { return FromBits(a.FBits | b.FBits); }
  friend constexpr Set operator*(Set a, Set b) noexcept { return FromBits(a.FBits & b.FBits); }
  friend constexpr Set operator-(Set a, Set b) noexcept { return FromBits(a.FBits & ~b.FBits); }
  friend constexpr bool operator==(Set a, Set b) noexcept { return a.FBits == b.FBits; }

 private:
  static constexpr bool InRange(E e) noexcept {
    return static_cast<int>(e) >= Lo && static_cast<int>(e) <= Hi;
  }
  static constexpr std::uint64_t Bit(E e) noexcept {
    return std::uint64_t{1} << (static_cast<int>(e) - Lo);
  }
  static constexpr Set FromBits(std::uint64_t bits) noexcept {
    Set s;
    s.FBits = bits;
    return s;
  }
  std::uint64_t FBits = 0;
};

// ---- TObject ------------------------------------------------------------------

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name of the object's dynamic type without namespaces ("TComponent").
  AnsiString ClassName() const;
  const std::type_info& ClassType() const noexcept { return typeid(*this); }
  template <class T>
  bool InheritsFrom() const noexcept {
    return dynamic_cast<const T*>(this) != nullptr;
  }
};

// The unqualified name of a type, as ClassName gives it.
AnsiString ClassNameOf(const std::type_info& type);

// ---- Events -------------------------------------------------------------------

// A closure: a member function bound to the object it is called on, the
// framework's event type. It may be empty; two closures are equal when they
// bind the same method to the same object. Calling an empty closure raises
// EInvalidOperation; callers test it first (if (FOnChange) FOnChange(this)).
// The closure does not own its object: whoever sets a handler keeps the
// object alive while the handler is set.
template <class Signature>
class TClosure;

template <class R, class... Args>
class TClosure<R(Args...)> {
 public:
  TClosure() noexcept = default;
  TClosure(std::nullptr_t) noexcept {}  // NOLINT: an empty handler

  template <class C, class M>
    requires std::is_base_of_v<M, C>
  TClosure(C* object, R (M::*method)(Args...)) noexcept
      : FObject(static_cast<M*>(object)), FInvoke(&Call<M, R (M::*)(Args...)>) {
    StoreMethod(method);
  }

  template <class C, class M>
    requires std::is_base_of_v<M, C>
  TClosure(const C* object, R (M::*method)(Args...) const) noexcept
      : FObject(const_cast<M*>(static_cast<const M*>(object))),
        FInvoke(&Call<M, R (M::*)(Args...) const>) {
    StoreMethod(method);
  }

  // Calls the bound method; EInvalidOperation when the closure is empty.
  R operator()(Args... args) const {
    if (FInvoke == nullptr || FObject == nullptr) ThrowEmpty();
    return FInvoke(FObject, FMethod, std::forward<Args>(args)...);
  }

  explicit operator bool() const noexcept { return FInvoke != nullptr && FObject != nullptr; }
  // The bound object (the framework's Data part), or nullptr.
  void* Data() const noexcept { return FObject; }

  friend bool operator==(const TClosure& a, const TClosure& b) noexcept {
    return a.FObject == b.FObject && a.FInvoke == b.FInvoke &&
           std::memcmp(a.FMethod, b.FMethod, sizeof a.FMethod) == 0;
  }
  friend bool operator==(const TClosure& a, std::nullptr_t) noexcept { return !a; }

 private:
  using Invoker = R (*)(void*, const unsigned char*, Args&&...);
  static constexpr std::size_t MethodSize = 2 * sizeof(void*);

  template <class Method>
  void StoreMethod(Method method) noexcept {
    static_assert(sizeof(Method) <= MethodSize, "member pointer larger than expected");
    std::memcpy(FMethod, &method, sizeof(Method));
  }

  template <class M, class Method>
  static R Call(void* object, const unsigned char* stored, Args&&... args) {
    Method method;
    std::memcpy(&method, stored, sizeof(Method));
    return (static_cast<M*>(object)->*method)(std::forward<Args>(args)...);
  }

  [[noreturn]] static void ThrowEmpty() {
    throw EInvalidOperation(AnsiString("Call of an empty event handler"));
  }

  void* FObject = nullptr;
  Invoker FInvoke = nullptr;
  alignas(void*) unsigned char FMethod[MethodSize] = {};
};

// The framework's plain event: handler(Sender).
using TNotifyEvent = TClosure<void(TObject* Sender)>;

// ---- Persistent objects and filers ------------------------------------------

class TPersistent;
class TComponent;
class TFiler;
class TReader;
class TWriter;
class TStream;

using TReaderProc = TClosure<void(TReader* Reader)>;
using TWriterProc = TClosure<void(TWriter* Writer)>;
using TStreamProc = TClosure<void(TStream* Stream)>;

// An object that can be assigned from another and saved with a form.
class TPersistent : public TObject {
 public:
  // Copies Source into this object. The base asks Source to copy itself here
  // (Source->AssignTo(this)); a nil Source or a pair of classes that cannot
  // copy raises EConvertError "Cannot assign a <source> to a <this>".
  virtual void Assign(TPersistent* Source);
  // Copies this object into Dest; the base raises EConvertError as above.
  virtual void AssignTo(TPersistent* Dest);
  // Lets the object add data of its own to the form file; called by the
  // filers while an owning component is read or written. The base defines nothing.
  virtual void DefineProperties(TFiler* Filer);
  // The object that owns this one for naming and streaming, or nullptr.
  virtual TPersistent* GetOwner() const;
  // "Owner.Property" style path naming the object at design time.
  virtual AnsiString GetNamePath() const;

 protected:
  // Raises EConvertError "Cannot assign a <Source class> to a <this class>"
  // ("nil" for a null Source).
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// Filer: the reader or writer of a form file, as DefineProperties sees it.
// Concrete filers (the form reader and writer) derive from it; a filer does
// not own its stream.
class TFiler : public TObject {
 public:
  explicit TFiler(TStream* Stream) noexcept : FStream(Stream) {}

  // A property stored in the filer's own value format.
  virtual void DefineProperty(const AnsiString& Name, TReaderProc ReadData,
                              TWriterProc WriteData, bool HasData) = 0;
  // A property stored as a length-prefixed block of bytes; ReadData and
  // WriteData see a stream holding just those bytes. WriteData is called
  // only when HasData is true; either procedure may be empty.
  virtual void DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData,
                                    TStreamProc WriteData, bool HasData) = 0;

  TStream* Stream() const noexcept { return FStream; }
  // The component at the top of what is being read or written.
  TComponent* Root() const noexcept { return FRoot; }
  void SetRoot(TComponent* Value) noexcept { FRoot = Value; }
  // The inherited object the written one is compared with, or nullptr.
  TPersistent* Ancestor() const noexcept { return FAncestor; }
  void SetAncestor(TPersistent* Value) noexcept { FAncestor = Value; }

 private:
  TStream* FStream;
  TComponent* FRoot = nullptr;
  TPersistent* FAncestor = nullptr;
};

// ---- Components ---------------------------------------------------------------

enum TComponentStateEnum : unsigned char {
  csLoading,           // read from a form file; cleared by Loaded()
  csReading,           // its properties are being read
  csWriting,           // its properties are being written
  csDestroying,        // being destroyed
  csDesigning,         // in the designer, not in a running application
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,  // some component asked to hear of its destruction
  csInline,
  csDesignInstance,
};
using TComponentState = Set<TComponentStateEnum, csLoading, csDesignInstance>;

enum TOperation : unsigned char { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  // Creates the component and, when AOwner is given, inserts it into the
  // owner, which then owns and frees it.
  explicit TComponent(TComponent* AOwner);
  // Tells the free-notification subscribers, frees the owned components
  // (last inserted first; silently unless they asked for free notification)
  // and leaves the owner, whose components hear opRemove.
  ~TComponent() override;

  TComponent* Owner() const noexcept { return FOwner; }
  const AnsiString& Name() const noexcept { return FName; }
  // Renames the component. EComponentError when NewName is not empty and not
  // an identifier ("'x y' is not a valid component name") or when the owner
  // holds another component of that name, compared case-insensitively ("A
  // component named X already exists"); the name is then unchanged.
  void SetName(const AnsiString& NewName);
  long Tag() const noexcept { return FTag; }
  void SetTag(long Value) noexcept { FTag = Value; }

  int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  // The owned component at Index; EListError "List index out of bounds (Index)".
  TComponent* Components(int Index) const;
  // Position in the owner's list, -1 without owner.
  int ComponentIndex() const noexcept;
  // The owned component of that name (case-insensitive), or nullptr.
  TComponent* FindComponent(const AnsiString& AName) const;

  TComponentState ComponentState() const noexcept { return FComponentState; }

  // Takes AComponent into this component's ownership (leaving any previous
  // owner first); every owned component then hears opInsert. Raises
  // EComponentError on a name clash, leaving everything as it was.
  void InsertComponent(TComponent* AComponent);
  // Releases AComponent from this component's ownership without freeing it;
  // the owned components hear opRemove first. Ignored for a stranger.
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component, last inserted first.
  void DestroyComponents() noexcept;

  // Asks that AComponent hear Notification(this, opRemove) when this
  // component is destroyed, also across owners. The link is mutual and ends
  // by itself when either side is destroyed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Marks this component and its owned ones as being destroyed; idempotent.
  void Destroying() noexcept;

  // Called once the whole form it belongs to has been read; clears csLoading.
  virtual void Loaded();
  // AComponent is being inserted into or removed from the owner, or a
  // component that this one watches is being destroyed. The base forwards
  // the notice to every owned component and drops its free-notification link
  // with AComponent on opRemove; overrides clear their references, then call it.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // State switches for the form reader and writer, the designer and tests.
  // SetLoading sets csLoading (Loaded() clears it); SetReading and
  // SetWriting toggle csReading and csWriting; SetDesigning toggles
  // csDesigning here and, when SetChildren, in every owned component.
  void SetLoading() noexcept { FComponentState << csLoading; }
  void SetReading(bool Value) noexcept;
  void SetWriting(bool Value) noexcept;
  void SetDesigning(bool Value, bool SetChildren = true) noexcept;

  TPersistent* GetOwner() const override;
  AnsiString GetNamePath() const override;  // the Name

 private:
  void AttachChild(TComponent* child);
  void DetachChild(TComponent* child) noexcept;
  void ValidateRename(const TComponent* component, const AnsiString& newName) const;
  void AddFreeLink(TComponent* other);
  void DropFreeLink(TComponent* other) noexcept;

  TComponent* FOwner = nullptr;
  AnsiString FName;
  long FTag = 0;
  TComponentState FComponentState;
  std::vector<TComponent*> FComponents;   // owned; freed by this component
  std::vector<TComponent*> FFreeNotifies; // not owned; each link is mutual
};

// ---- Collections --------------------------------------------------------------

class TCollection;
class TCollectionItem;

// The class of a collection's items: makes a new item inside a collection
// and tells whether an item is of the class. TCollectionItemClass::Of<T>()
// stands for the framework's __classid(T); T needs a constructor taking the
// TCollection*.
struct TCollectionItemClass {
  TCollectionItem* (*Create)(TCollection* Collection) = nullptr;
  bool (*IsInstance)(const TCollectionItem* Item) = nullptr;
  const std::type_info* Type = nullptr;

  template <class T>
  static TCollectionItemClass Of() noexcept {
    static_assert(std::is_base_of_v<TCollectionItem, T>, "not a collection item class");
    return {[](TCollection* c) -> TCollectionItem* { return new T(c); },
            [](const TCollectionItem* i) { return dynamic_cast<const T*>(i) != nullptr; },
            &typeid(T)};
  }
  AnsiString ClassName() const { return Type ? ClassNameOf(*Type) : AnsiString(); }
  friend bool operator==(const TCollectionItemClass& a, const TCollectionItemClass& b) noexcept {
    return a.Type == b.Type || (a.Type && b.Type && *a.Type == *b.Type);
  }
};

enum TCollectionNotification : unsigned char { cnAdded, cnExtracting, cnDeleting };

class TCollectionItem : public TPersistent {
 public:
  // Creates the item as the last item of Collection (when given). The
  // collection hears of an item made by its own Add() once the item is
  // whole; an item constructed directly is announced (Notify cnAdded,
  // Update) from this base constructor, before its derived part exists.
  explicit TCollectionItem(TCollection* Collection);
  // Leaves the collection. Deleting an item directly tells the collection
  // (Notify cnExtracting) only once the derived part is gone; Delete and
  // Clear take the item out while it is whole.
  ~TCollectionItem() override;

  TCollection* Collection() const noexcept { return FCollection; }
  // Moves the item to the end of another collection (or out of any, for
  // nullptr). EListError "Invalid property value" when the item is not of
  // Value's item class; the item then stays where it was.
  virtual void SetCollection(TCollection* Value);
  // Position in the collection, -1 outside one.
  int Index() const noexcept;
  // Moves the item to Value; EListError "List index out of bounds (Value)".
  virtual void SetIndex(int Value);
  // Number given by the collection when the item joined it; unique within it.
  int ID() const noexcept { return FID; }

  // Text that editors show for the item; the base gives the class name.
  virtual AnsiString GetDisplayName() const;
  // The base only reports the change to the collection.
  virtual void SetDisplayName(const AnsiString& Value);

  TPersistent* GetOwner() const override;       // the collection
  AnsiString GetNamePath() const override;      // "<collection path>[Index]"

 protected:
  // Reports a change of this item (or of all items) to the collection.
  void Changed(bool AllItems);

 private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

class TCollection : public TPersistent {
 public:
  explicit TCollection(TCollectionItemClass ItemClass);
  // Frees every item.
  ~TCollection() override;

  // A new item of the item class at the end; the collection owns it.
  TCollectionItem* Add();
  // A new item moved to Index; EListError when Index is outside 0..Count.
  TCollectionItem* Insert(int Index);
  // Frees the item at Index; EListError "List index out of bounds (Index)".
  void Delete(int Index);
  // Frees every item (last first), with a single Update at the end.
  void Clear();

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // The item at Index; EListError "List index out of bounds (Index)".
  TCollectionItem* Items(int Index) const;
  TCollectionItem* GetItem(int Index) const { return Items(Index); }
  // Items(Index)->Assign(Value).
  void SetItem(int Index, TCollectionItem* Value);
  TCollectionItem* FindItemID(int ID) const noexcept;
  const TCollectionItemClass& ItemClass() const noexcept { return FItemClass; }

  // Update calls are held back between BeginUpdate and the matching
  // EndUpdate, which then sends one Update(nullptr).
  void BeginUpdate() noexcept { ++FUpdateCount; }
  virtual void EndUpdate();
  int UpdateCount() const noexcept { return FUpdateCount; }

  // From another collection: clears this one and adds one item per source
  // item, copied with that item's own Assign. Anything else goes to the base
  // (EConvertError). When an item copy raises, the collection keeps the items
  // it had before and the error passes on.
  void Assign(TPersistent* Source) override;

  // The name of the property that publishes the collection, for GetNamePath.
  const AnsiString& PropName() const noexcept { return FPropName; }
  void SetPropName(const AnsiString& Value) { FPropName = Value; }
  AnsiString GetNamePath() const override;
  // The owning object (TOwnedCollection), nullptr here.
  TPersistent* Owner() const { return GetOwner(); }

 protected:
  // Called after a change: Item is the changed item, nullptr for a change of
  // the whole collection. The base does nothing.
  virtual void Update(TCollectionItem* Item);
  // An item joined (cnAdded), is leaving (cnExtracting) or is about to be
  // freed by Delete (cnDeleting). The base does nothing.
  virtual void Notify(TCollectionItem* Item, TCollectionNotification Action);
  // Update(nullptr) unless updates are held back.
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item) noexcept;
  void AnnounceItem(TCollectionItem* item);
  void MoveItem(int from, int to);
  void FreeItems(std::vector<TCollectionItem*>& items) noexcept;
  void ExtractAndFree(TCollectionItem* item) noexcept;

  TCollectionItemClass FItemClass;
  std::vector<TCollectionItem*> FItems;  // owned; freed by the collection
  int FNextID = 0;
  int FUpdateCount = 0;
  int FCreatingItem = 0;                   // Add() is running an item constructor
  std::vector<TCollectionItem*> FPending;  // joined during it, announced when it ends
  AnsiString FPropName;
};

// A collection that belongs to an object (normally the component that
// publishes it); GetOwner gives that object.
class TOwnedCollection : public TCollection {
 public:
  TOwnedCollection(TPersistent* AOwner, TCollectionItemClass ItemClass)
      : TCollection(ItemClass), FOwner(AOwner) {}
  TPersistent* GetOwner() const override { return FOwner; }

 private:
  TPersistent* FOwner;
};

// Raises EListError "List index out of bounds (Index)", the framework's list error.
[[noreturn]] void ListIndexError(int Index);

}  // namespace Tx
