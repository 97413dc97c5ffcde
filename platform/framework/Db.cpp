#include "platform/framework/Db.h"

#include "platform/framework/TextCompare.h"

namespace Tx {

// ---- TFieldDef ------------------------------------------------------------------

TFieldDef::TFieldDef(TCollection* Collection) : TCollectionItem(Collection) {}

void TFieldDef::SetName(const AnsiString& Value) {
  FName = Value;
  Changed(false);
}

void TFieldDef::SetDataType(TFieldType Value) {
  FDataType = Value;
  Changed(false);
}

void TFieldDef::SetSize(int Value) {
  FSize = Value;
  Changed(false);
}

void TFieldDef::SetRequired(bool Value) {
  FRequired = Value;
  Changed(false);
}

void TFieldDef::SetPrecision(int Value) {
  FPrecision = Value;
  Changed(false);
}

void TFieldDef::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TFieldDef*>(Source);
  if (!other) {
    TCollectionItem::Assign(Source);
    return;
  }
  FName = other->FName;
  FDataType = other->FDataType;
  FSize = other->FSize;
  FPrecision = other->FPrecision;
  FRequired = other->FRequired;
  Changed(false);
}

// ---- TFieldDefs -----------------------------------------------------------------

TFieldDefs::TFieldDefs(TPersistent* Owner)
    : TOwnedCollection(Owner, TCollectionItemClass::Of<TFieldDef>()) {}

TFieldDef* TFieldDefs::AddFieldDef() { return static_cast<TFieldDef*>(TCollection::Add()); }

TFieldDef* TFieldDefs::Add(const AnsiString& Name, TFieldType DataType, int Size, bool Required) {
  if (IndexOf(Name) >= 0) {
    const TPersistent* owner = GetOwner();
    const AnsiString ownerName = owner ? owner->GetNamePath() : AnsiString();
    throw EDatabaseError("Duplicate name '%s' in %s", {Name, ownerName});
  }
  BeginUpdate();
  TFieldDef* def = nullptr;
  try {
    def = AddFieldDef();
    def->SetName(Name);
    def->SetDataType(DataType);
    def->SetSize(Size);
    def->SetRequired(Required);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return def;
}

int TFieldDefs::IndexOf(const AnsiString& Name) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(Items(i)->Name(), Name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::FindDef(const AnsiString& Name) const {
  const int i = IndexOf(Name);
  return i < 0 ? nullptr : Items(i);
}

TFieldDef* TFieldDefs::Find(const AnsiString& Name) const {
  TFieldDef* def = FindDef(Name);
  if (!def) throw EDatabaseError("Field '%s' not found", {Name});
  return def;
}

void TFieldDefs::Update(TCollectionItem* /*Item*/) { FUpdated = false; }

}  // namespace Tx
