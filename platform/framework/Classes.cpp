#include "platform/framework/Classes.h"

#include "platform/framework/TextCompare.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

namespace Tx {

namespace {

// Drops namespaces (and "(anonymous namespace)") in front of the class name;
// template arguments are kept as they are.
std::string UnqualifiedName(const std::string& qualified) {
  const std::size_t templateStart = qualified.find('<');
  const std::string head = qualified.substr(0, templateStart);
  const std::size_t lastScope = head.rfind("::");
  return lastScope == std::string::npos ? qualified : qualified.substr(lastScope + 2);
}

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsValidIdent(const AnsiString& name) {
  if (name.IsEmpty() || !IsIdentStart(name[1])) return false;
  for (int i = 2; i <= name.Length(); ++i) {
    const char c = name[i];
    if (!IsIdentStart(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

// Makes room for one more pointer, growing geometrically, so that the
// push_back that follows cannot fail.
template <class T>
void ReserveOneMore(std::vector<T*>& list) {
  if (list.size() == list.capacity()) list.reserve(std::max<std::size_t>(4, 2 * list.size()));
}

// Searched from the end: lists are mostly emptied last entry first.
template <class T>
void EraseOne(std::vector<T*>& list, const T* item) noexcept {
  const auto it = std::find(list.rbegin(), list.rend(), item);
  if (it != list.rend()) list.erase(std::next(it).base());
}

}  // namespace

void ListIndexError(int Index) {
  throw EListError("List index out of bounds (" + AnsiString(Index) + ")");
}

// ---- TObject -----------------------------------------------------------------

AnsiString ClassNameOf(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  const std::string full = (status == 0 && demangled) ? demangled.get() : type.name();
  return AnsiString(UnqualifiedName(full));
}

AnsiString TObject::ClassName() const { return ClassNameOf(typeid(*this)); }

// ---- TPersistent -------------------------------------------------------------

void TPersistent::Assign(TPersistent* Source) {
  if (Source == nullptr) AssignError(nullptr);
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) {
  if (Dest == nullptr) {
    throw EConvertError("Cannot assign a " + ClassName() + " to a nil");
  }
  Dest->AssignError(this);
}

void TPersistent::DefineProperties(TFiler* /*Filer*/) {}

TPersistent* TPersistent::GetOwner() const { return nullptr; }

AnsiString TPersistent::GetNamePath() const {
  AnsiString path = ClassName();
  if (const TPersistent* owner = GetOwner()) {
    const AnsiString ownerPath = owner->GetNamePath();
    if (!ownerPath.IsEmpty()) path = ownerPath + "." + path;
  }
  return path;
}

void TPersistent::AssignError(const TPersistent* Source) const {
  const AnsiString sourceName = Source ? Source->ClassName() : AnsiString("nil");
  throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

// ---- TComponent --------------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner == nullptr) return;
  try {
    AOwner->InsertComponent(this);
  } catch (...) {
    // A Notification override raised: this object never comes to be, so no
    // list may keep a pointer to it.
    while (!FFreeNotifies.empty()) DropFreeLink(FFreeNotifies.back());
    if (FOwner != nullptr) FOwner->DetachChild(this);
    throw;
  }
}

TComponent::~TComponent() {
  Destroying();

  // Each watcher hears of the end first; the link is dropped on both sides
  // before the call, so a watcher that does not call the base Notification
  // keeps no dangling pointer.
  while (!FFreeNotifies.empty()) {
    TComponent* watcher = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    EraseOne(watcher->FFreeNotifies, this);
    try {
      watcher->Notification(this, opRemove);
    } catch (...) {
      // A destructor cannot report it; the watcher has been told what it can be.
    }
  }

  DestroyComponents();

  if (FOwner != nullptr) {
    TComponent* owner = FOwner;
    try {
      owner->RemoveComponent(this);
    } catch (...) {
      // A sibling's Notification raised: leave the owner's list anyway.
    }
    if (FOwner == owner) owner->DetachChild(this);
  }
}

void TComponent::SetName(const AnsiString& NewName) {
  if (NewName == FName) return;
  if (!NewName.IsEmpty() && !IsValidIdent(NewName)) {
    throw EComponentError("'" + NewName + "' is not a valid component name");
  }
  if (FOwner != nullptr) FOwner->ValidateRename(this, NewName);
  FName = NewName;
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) ListIndexError(Index);
  return FComponents[static_cast<std::size_t>(Index)];
}

int TComponent::ComponentIndex() const noexcept {
  if (FOwner == nullptr) return -1;
  const auto& list = FOwner->FComponents;
  const auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const AnsiString& AName) const {
  if (AName.IsEmpty()) return nullptr;
  for (TComponent* c : FComponents) {
    if (SameText(c->FName, AName)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner == this) return;
  for (const TComponent* c = this; c != nullptr; c = c->FOwner) {
    if (c == AComponent) {
      throw EComponentError("A component cannot own itself or its owner: " +
                            AComponent->ClassName());
    }
  }
  ValidateRename(AComponent, AComponent->FName);
  ReserveOneMore(FComponents);  // attaching below cannot fail

  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  AttachChild(AComponent);
  if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  DetachChild(AComponent);
}

void TComponent::DestroyComponents() noexcept {
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    // Children go quietly, as the owner's other components go with them;
    // one that someone watches announces its removal.
    if (child->FComponentState.Contains(csFreeNotification)) {
      try {
        Notification(child, opRemove);
      } catch (...) {
        // Nothing can be reported from here; the child is freed regardless.
      }
    }
    DetachChild(child);
    delete child;
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  // Components of one owner already hear of each other through it.
  if (FOwner == nullptr || AComponent->FOwner != FOwner) AddFreeLink(AComponent);
  FComponentState << csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) { DropFreeLink(AComponent); }

void TComponent::Destroying() noexcept {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState << csDestroying;
  for (TComponent* child : FComponents) child->Destroying();
}

void TComponent::Loaded() { FComponentState >> csLoading; }

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) DropFreeLink(AComponent);
  // Last to first; a handler may remove components, so the index is pulled
  // back into the list after each call.
  int i = ComponentCount() - 1;
  while (i >= 0) {
    FComponents[static_cast<std::size_t>(i)]->Notification(AComponent, Operation);
    --i;
    if (i >= ComponentCount()) i = ComponentCount() - 1;
  }
}

void TComponent::SetReading(bool Value) noexcept {
  if (Value) {
    FComponentState << csReading;
  } else {
    FComponentState >> csReading;
  }
}

void TComponent::SetWriting(bool Value) noexcept {
  if (Value) {
    FComponentState << csWriting;
  } else {
    FComponentState >> csWriting;
  }
}

void TComponent::SetDesigning(bool Value, bool SetChildren) noexcept {
  if (Value) {
    FComponentState << csDesigning;
  } else {
    FComponentState >> csDesigning;
  }
  if (SetChildren) {
    for (TComponent* child : FComponents) child->SetDesigning(Value, true);
  }
}

TPersistent* TComponent::GetOwner() const { return FOwner; }

AnsiString TComponent::GetNamePath() const { return FName; }

void TComponent::AttachChild(TComponent* child) {
  FComponents.push_back(child);
  child->FOwner = this;
}

void TComponent::DetachChild(TComponent* child) noexcept {
  EraseOne(FComponents, child);
  child->FOwner = nullptr;
}

void TComponent::ValidateRename(const TComponent* component, const AnsiString& newName) const {
  if (newName.IsEmpty()) return;
  for (const TComponent* c : FComponents) {
    if (c != component && SameText(c->FName, newName)) {
      throw EComponentError("A component named " + newName + " already exists");
    }
  }
}

void TComponent::AddFreeLink(TComponent* other) {
  const bool mine = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) != FFreeNotifies.end();
  const bool theirs = std::find(other->FFreeNotifies.begin(), other->FFreeNotifies.end(), this) !=
                      other->FFreeNotifies.end();
  // Reserve both sides first so that the link is made on both or on neither.
  if (!mine) ReserveOneMore(FFreeNotifies);
  if (!theirs) ReserveOneMore(other->FFreeNotifies);
  if (!mine) FFreeNotifies.push_back(other);
  if (!theirs) other->FFreeNotifies.push_back(this);
  other->FComponentState << csFreeNotification;
}

void TComponent::DropFreeLink(TComponent* other) noexcept {
  if (other == nullptr) return;
  EraseOne(FFreeNotifies, other);
  EraseOne(other->FFreeNotifies, this);
}

// ---- TCollectionItem ---------------------------------------------------------

TCollectionItem::TCollectionItem(TCollection* Collection) {
  if (Collection != nullptr) Collection->InsertItem(this);
}

TCollectionItem::~TCollectionItem() {
  if (FCollection != nullptr) FCollection->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (Value == FCollection) return;
  if (Value != nullptr && Value->FItemClass.IsInstance != nullptr &&
      !Value->FItemClass.IsInstance(this)) {
    throw EListError(AnsiString("Invalid property value"));
  }
  if (FCollection != nullptr) FCollection->RemoveItem(this);
  if (Value != nullptr) Value->InsertItem(this);
}

int TCollectionItem::Index() const noexcept {
  if (FCollection == nullptr) return -1;
  const auto& items = FCollection->FItems;
  const auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
  const int current = Index();
  if (current < 0 || current == Value) return;
  FCollection->MoveItem(current, Value);
  Changed(true);
}

AnsiString TCollectionItem::GetDisplayName() const { return ClassName(); }

void TCollectionItem::SetDisplayName(const AnsiString& /*Value*/) { Changed(false); }

TPersistent* TCollectionItem::GetOwner() const { return FCollection; }

AnsiString TCollectionItem::GetNamePath() const {
  if (FCollection == nullptr) return ClassName();
  return FCollection->GetNamePath() + "[" + AnsiString(Index()) + "]";
}

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection != nullptr && FCollection->FUpdateCount == 0) {
    FCollection->Update(AllItems ? nullptr : this);
  }
}

// ---- TCollection -------------------------------------------------------------

TCollection::TCollection(TCollectionItemClass ItemClass) : FItemClass(ItemClass) {}

TCollection::~TCollection() {
  FUpdateCount = 1;  // no Update calls while going away
  std::vector<TCollectionItem*> items;
  items.swap(FItems);
  FreeItems(items);
}

TCollectionItem* TCollection::Add() {
  if (FItemClass.Create == nullptr) {
    throw EInvalidOperation("Collection " + ClassName() + " has no item class");
  }
  // The item's constructor puts it into the list; it is announced once the
  // constructor has finished, so overrides of Notify and Update see it whole.
  ++FCreatingItem;
  TCollectionItem* item = nullptr;
  try {
    item = FItemClass.Create(this);
  } catch (...) {
    if (--FCreatingItem == 0) FPending.clear();
    throw;
  }
  if (--FCreatingItem > 0) return item;

  std::vector<TCollectionItem*> pending;
  pending.swap(FPending);
  for (TCollectionItem* joined : pending) {
    try {
      AnnounceItem(joined);
    } catch (...) {
      delete joined;
      throw;
    }
  }
  return item;
}

TCollectionItem* TCollection::Insert(int Index) {
  if (Index < 0 || Index > Count()) ListIndexError(Index);
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Delete(int Index) {
  TCollectionItem* item = Items(Index);
  Notify(item, cnDeleting);
  ExtractAndFree(item);
}

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) ExtractAndFree(FItems.back());
  EndUpdate();
}

// The item leaves the list while it is still whole, so that Notify sees it
// as what it is; deleting it afterwards finds it outside any collection.
void TCollection::ExtractAndFree(TCollectionItem* item) noexcept {
  RemoveItem(item);
  delete item;
}

TCollectionItem* TCollection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) ListIndexError(Index);
  return FItems[static_cast<std::size_t>(Index)];
}

void TCollection::SetItem(int Index, TCollectionItem* Value) { Items(Index)->Assign(Value); }

TCollectionItem* TCollection::FindItemID(int ID) const noexcept {
  for (TCollectionItem* item : FItems) {
    if (item->FID == ID) return item;
  }
  return nullptr;
}

void TCollection::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Changed();
}

void TCollection::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TCollection*>(Source);
  if (source == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;

  BeginUpdate();
  // The old items are set aside rather than freed, so that a copy that fails
  // half-way can be undone.
  std::vector<TCollectionItem*> previous;
  previous.swap(FItems);
  try {
    for (int i = 0; i < source->Count(); ++i) Add()->Assign(source->Items(i));
  } catch (...) {
    std::vector<TCollectionItem*> partial;
    partial.swap(FItems);
    FreeItems(partial);
    FItems.swap(previous);
    --FUpdateCount;
    throw;
  }
  FreeItems(previous);
  EndUpdate();
}

AnsiString TCollection::GetNamePath() const {
  const TPersistent* owner = GetOwner();
  if (owner == nullptr) return ClassName();
  const AnsiString ownerPath = owner->GetNamePath();
  if (ownerPath.IsEmpty() || FPropName.IsEmpty()) return ClassName();
  return ownerPath + "." + FPropName;
}

void TCollection::Update(TCollectionItem* /*Item*/) {}

void TCollection::Notify(TCollectionItem* /*Item*/, TCollectionNotification /*Action*/) {}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* item) {
  FItems.push_back(item);
  item->FCollection = this;
  item->FID = FNextID++;
  if (FCreatingItem > 0) {
    try {
      FPending.push_back(item);
    } catch (...) {
      FItems.pop_back();
      item->FCollection = nullptr;
      throw;
    }
    return;
  }
  try {
    AnnounceItem(item);
  } catch (...) {
    // The item's constructor fails with this; it must not stay listed.
    EraseOne(FItems, item);
    item->FCollection = nullptr;
    throw;
  }
}

void TCollection::RemoveItem(TCollectionItem* item) noexcept {
  const bool announced = std::find(FPending.begin(), FPending.end(), item) == FPending.end();
  EraseOne(FPending, item);
  if (announced) {
    try {
      Notify(item, cnExtracting);
    } catch (...) {
      // Leaving the collection cannot be refused.
    }
  }
  EraseOne(FItems, item);
  item->FCollection = nullptr;
  try {
    Changed();
  } catch (...) {
    // As above: an Update override that raises does not keep the item here.
  }
}

void TCollection::AnnounceItem(TCollectionItem* item) {
  Notify(item, cnAdded);
  Changed();
}

void TCollection::MoveItem(int from, int to) {
  if (to < 0 || to >= Count()) ListIndexError(to);
  const auto first = FItems.begin();
  if (from < to) {
    std::rotate(first + from, first + from + 1, first + to + 1);
  } else {
    std::rotate(first + to, first + from, first + from + 1);
  }
}

// Frees items that are no longer in FItems, last first; each one is told it
// is leaving (cnExtracting) as if it still were.
void TCollection::FreeItems(std::vector<TCollectionItem*>& items) noexcept {
  while (!items.empty()) {
    TCollectionItem* item = items.back();
    items.pop_back();
    try {
      Notify(item, cnExtracting);
    } catch (...) {
      // Freed regardless.
    }
    item->FCollection = nullptr;
    delete item;
  }
}

}  // namespace Tx
